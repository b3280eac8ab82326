// Arbitrary UTF-16 (lone surrogates included) in every registration field and
// through every conversion; the check must neither crash nor let an over-long
// value through.
#include "flow/FormCheck.h"
#include "flow/TextConv.h"
#include "platform/BrowserPane.h"
#include "platform/Errors.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <QHash>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace brevik;

// A page without an engine or widgets: the fuzzer runs without a display.
class MapPane : public BrowserPane {
public:
    QHash<QString, QString> values;
    QWidget* widget() override { return nullptr; }
    void Navigate2(const QString&) override {}
    void Refresh() override {}
    void Write(const QString&) override {}
    QString Value(const QString& name, int) override { return find(name); }
    void SetValue(const QString& name, const QString& value, int) override { find(name) = value; }
    void Focus(const QString& name, int) override { find(name); }
    void Print() override {}

private:
    QString& find(const QString& name) {
        auto it = values.find(name);
        if (it == values.end())
            throw PaneError(QStringLiteral("no element named %1").arg(name));
        return *it;
    }
};

void require(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    // The first four bytes say which elements the page lacks.
    const uint32_t missing = data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24;
    const QString text(reinterpret_cast<const QChar*>(data + 4), qsizetype((size - 4) / 2));

    require(toUpperCase(text).size() == text.size());
    require(toFullWidth(text).size() <= text.size());
    require(toHalfWidth(text).size() <= 2 * text.size());
    CheckHiragana(text);
    CheckAlphabet(text);
    CheckMailChars(text);
    CheckDigits(text);
    isCalendarDate(text);

    // Fields are separated by U+0000; later fields are empty when the input runs out.
    const QStringList parts = text.split(QChar(0));
    MapPane pane;
    const QStringList& names = registrationFields();
    for (int i = 0; i < names.size(); ++i)
        if (!(missing >> i & 1))
            pane.values.insert(names[i], parts.value(i));

    ScriptedDialogHost dialogs;
    AppState st;
    st.svc.dialogs = &dialogs;
    const bool ok = RunFormCheck(st, pane);
    require(dialogs.shown.size() == (ok ? 0u : 1u));
    if (ok) {
        const ExamineeRecord& r = st.rec;
        require(r.kanjiFamily.size() <= 10 && r.kanjiGiven.size() <= 10);
        require(r.kanaFamily.size() <= 30 && r.kanaGiven.size() <= 30);
        require(st.strRomaFamilyName.size() <= 50 && st.strRomaGivenName.size() <= 50);
        require(r.strEmail.size() <= 100 && r.strCity.size() <= 20 && r.strTel.size() <= 20);
        require(r.strAddress1.size() <= 50 && r.strAddress2.size() <= 50);
        require(CheckHiragana(r.kanaFamily) && CheckHiragana(r.kanaGiven));
    }
    return 0;
}
