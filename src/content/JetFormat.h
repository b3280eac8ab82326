#pragma once
// Low-level facts of the Jet 3/4 file format shared by the reader and the
// datpack writer: page sizes, the masked header, the database password.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace brevik::jet {

inline constexpr int kJet3PageSize = 2048;
inline constexpr int kJet4PageSize = 4096;
inline constexpr int kHeaderMaskStart = 0x18;
inline constexpr int kPasswordOffset = 0x42;
inline constexpr int kDbKeyOffset = 0x3e;
inline constexpr int kCreationDateOffset = 0x72;
inline constexpr int kMaxPasswordChars = 20;

// RC4 over data in place (the format's "encryption" of the header and pages).
void rc4(const uint8_t* key, int keyLen, uint8_t* data, int len);

// Header facts of a file, or nullopt when the bytes are not a Jet database.
struct Header {
    bool jet4 = false; // Jet 4 and later (UTF-16 text, 4 KB pages)
    int pageSize = 0;
    uint32_t dbKey = 0; // non-zero: pages are RC4-encrypted
    QByteArray plain;   // page 0 with the masked area unmasked
};
std::optional<Header> readHeader(const QByteArray& file);

// The password stored in an unmasked header (empty when there is none).
QString storedPassword(const Header& h);

// Masks or unmasks the header area of page 0 in place (RC4 is its own inverse).
void maskHeader(uint8_t* page0, bool jet4);

// Writes password into an unmasked Jet 4 header (the creation date must be set).
void putJet4Password(uint8_t* page0, const QString& password);

// Decrypts every page after page 0 of an encrypted file and clears its key,
// so the rest of the reader sees plain pages.
void decryptPages(QByteArray& file, const Header& h);

inline uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

} // namespace brevik::jet
