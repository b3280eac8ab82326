#include "content/JetFormat.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <cstring>

namespace brevik::jet {

namespace {
constexpr uint8_t kHeaderKey[4] = {0xc7, 0xda, 0x39, 0x6b};
constexpr char kMagic[] = "Standard Jet DB";
constexpr char kMagicAce[] = "Standard ACE DB";

int maskLength(bool jet4) {
    return jet4 ? 128 : 126;
}

// The four bytes that hide a Jet 4 password: the creation date as int32.
void dateMask(const uint8_t* page0, uint8_t out[4]) {
    double d;
    std::memcpy(&d, page0 + kCreationDateOffset, sizeof d);
    int32_t v = 0;
    if (std::isfinite(d) && d > -2147483648.0 && d < 2147483648.0)
        v = int32_t(d);
    put32(out, uint32_t(v));
}
} // namespace

void rc4(const uint8_t* key, int keyLen, uint8_t* data, int len) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLen]) & 0xff;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < len; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xff];
    }
}

void maskHeader(uint8_t* page0, bool jet4) {
    rc4(kHeaderKey, 4, page0 + kHeaderMaskStart, maskLength(jet4));
}

std::optional<Header> readHeader(const QByteArray& file) {
    if (file.size() < kJet3PageSize)
        return std::nullopt;
    auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    if (p[0] != 0 ||
        (std::memcmp(p + 4, kMagic, 15) != 0 && std::memcmp(p + 4, kMagicAce, 15) != 0))
        return std::nullopt;
    uint32_t version = get32(p + 0x14);
    if (version > 6)
        return std::nullopt;
    Header h;
    h.jet4 = version >= 1;
    h.pageSize = h.jet4 ? kJet4PageSize : kJet3PageSize;
    if (file.size() < 3 * qsizetype(h.pageSize))
        return std::nullopt;
    h.plain = file.left(h.pageSize);
    maskHeader(reinterpret_cast<uint8_t*>(h.plain.data()), h.jet4);
    h.dbKey = get32(reinterpret_cast<const uint8_t*>(h.plain.constData()) + kDbKeyOffset);
    return h;
}

QString storedPassword(const Header& h) {
    auto* p = reinterpret_cast<const uint8_t*>(h.plain.constData()) + kPasswordOffset;
    if (!h.jet4) {
        QByteArray raw(reinterpret_cast<const char*>(p), kMaxPasswordChars);
        raw.truncate(raw.indexOf('\0') < 0 ? raw.size() : raw.indexOf('\0'));
        // Jet 3 keeps the password in the ANSI code page of the machine that set it.
        QStringDecoder dec("windows-31j");
        return dec.isValid() ? dec.decode(raw) : QString::fromLatin1(raw);
    }
    uint8_t mask[4];
    dateMask(reinterpret_cast<const uint8_t*>(h.plain.constData()), mask);
    QString out;
    for (int i = 0; i < kMaxPasswordChars; ++i) {
        uint16_t c = uint16_t((p[2 * i] ^ mask[(2 * i) % 4]) |
                              ((p[2 * i + 1] ^ mask[(2 * i + 1) % 4]) << 8));
        if (c == 0)
            break;
        out.append(QChar(c));
    }
    return out;
}

void putJet4Password(uint8_t* page0, const QString& password) {
    uint8_t mask[4];
    dateMask(page0, mask);
    uint8_t* p = page0 + kPasswordOffset;
    for (int i = 0; i < 2 * kMaxPasswordChars; ++i) {
        int ch = i / 2;
        uint16_t c = ch < password.size() ? password.at(ch).unicode() : 0;
        uint8_t b = (i % 2) ? uint8_t(c >> 8) : uint8_t(c);
        p[i] = b ^ mask[i % 4];
    }
}

void decryptPages(QByteArray& file, const Header& h) {
    if (h.dbKey == 0)
        return;
    auto* p = reinterpret_cast<uint8_t*>(file.data());
    const qsizetype pages = file.size() / h.pageSize;
    for (qsizetype pg = 1; pg < pages; ++pg) {
        uint8_t key[4];
        put32(key, h.dbKey ^ uint32_t(pg));
        rc4(key, 4, p + pg * h.pageSize, h.pageSize);
    }
    // Clear the key in the (masked) header so a reader does not decrypt again.
    maskHeader(p, h.jet4);
    put32(p + kDbKeyOffset, 0);
    maskHeader(p, h.jet4);
}

} // namespace brevik::jet
