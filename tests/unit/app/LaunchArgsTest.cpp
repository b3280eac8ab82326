#include "app/LaunchArgs.h"
#include "app/Options.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace brevik;

TEST(LaunchIdNumber, TakesTheLeadingNumberRoundedHalfToEven) {
    const struct {
        const char* text;
        qint32 expected;
    } cases[] = {
        {"12345", 12345},
        {"REHEARSAL", 0},
        {"rehearsal2", 0},
        {"", 0},
        {"12.5", 12},
        {"13.5", 14},
        {"-2.5", -2},
        {"0.5", 0},
        {"1.5", 2},
        {"12.51", 13},
        {"  42abc", 42},
        {"7-8", 7},
        {"-17", -17},
        {"+9", 9},
        {"1e3", 1000},
        {"2E", 2},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"x12", 0},
        {"１２", 0}, // full-width digits are not a number
    };
    for (const auto& c : cases)
        EXPECT_EQ(LaunchIdNumber(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(LaunchIdNumber, NumbersBeyond32BitsAreAnError) {
    for (const char* text : {"2147483648", "-2147483649", "123456789012", "2147483647.5", "1e10"})
        EXPECT_THROW(LaunchIdNumber(QString::fromLatin1(text)), std::overflow_error) << text;
}

TEST(LaunchList, EmptyTextBuildsTheRehearsalList) {
    const QDateTime now(QDate(2009, 3, 7), QTime(14, 5, 33));
    const QStringList items = BuildLaunchList(QString(), now);
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[0], QStringLiteral("TEST TYPE = 8"));
    EXPECT_EQ(items[1], QStringLiteral("試験実施日時 = 2009/03/07 14:05"));
    EXPECT_EQ(items[2], QStringLiteral("試験名 = ルドリンサンプル"));
    EXPECT_EQ(items[5], QStringLiteral("試験機関名 = ヴァルネ試験会場"));
    EXPECT_EQ(items[6], QStringLiteral("id=rehearsal"));
}

TEST(LaunchList, SplitsAtEveryCommaWithoutTrimming) {
    struct Case {
        QString text;
        QStringList items;
    } cases[] = {
        {QStringLiteral("alpha,beta"), {QStringLiteral("alpha"), QStringLiteral("beta")}},
        {QStringLiteral("TEST TYPE = 8"), {QStringLiteral("TEST TYPE = 8")}},
        {QStringLiteral("a,,b,"), {QStringLiteral("a"), QString(), QStringLiteral("b"), QString()}},
        // A comma inside a value shifts every later item by one.
        {QStringLiteral("T,試験名 = A,B,ファイル,課題,機関,id=5"),
         {QStringLiteral("T"), QStringLiteral("試験名 = A"), QStringLiteral("B"),
          QStringLiteral("ファイル"), QStringLiteral("課題"), QStringLiteral("機関"),
          QStringLiteral("id=5")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildLaunchList(c.text, QDateTime::currentDateTime()), c.items)
            << c.text.toStdString();
}

TEST(LaunchList, MidClipsLikeTheStringFunction) {
    EXPECT_EQ(Mid(QStringLiteral("id=12345"), 4, 20), QStringLiteral("12345"));
    EXPECT_EQ(Mid(QStringLiteral("id="), 4, 20), QString());
    EXPECT_EQ(Mid(QStringLiteral("id"), 4, 20), QString());
    EXPECT_EQ(Mid(QStringLiteral("試験名 = ルドリン"), 7, 100), QStringLiteral("ルドリン"));
}

TEST(Options, FirstArgumentWithDashesIsAnOption) {
    EXPECT_EQ(ParseOptions({}).mode, Options::Exam);
    EXPECT_EQ(ParseOptions({QStringLiteral("TEST"), QStringLiteral("TYPE")}).mode, Options::Exam);
    EXPECT_EQ(ParseOptions({QStringLiteral("--help")}).mode, Options::Help);
    EXPECT_EQ(ParseOptions({QStringLiteral("--resend-pending")}).mode, Options::ResendPending);
    const Options sc = ParseOptions({QStringLiteral("--self-check"), QStringLiteral("/tmp/x")});
    EXPECT_EQ(sc.mode, Options::SelfCheck);
    EXPECT_EQ(sc.selfCheckDir, QStringLiteral("/tmp/x"));
    EXPECT_EQ(ParseOptions({QStringLiteral("--self-check")}).mode, Options::Invalid);
    EXPECT_EQ(ParseOptions({QStringLiteral("--bogus")}).mode, Options::Invalid);
    EXPECT_EQ(ParseOptions({QStringLiteral("--help"), QStringLiteral("x")}).mode, Options::Invalid);
}

TEST(Options, ArgumentTextJoinsWithSingleSpaces) {
    EXPECT_EQ(ArgumentText({QStringLiteral("TEST"), QStringLiteral("TYPE"), QStringLiteral("="),
                            QStringLiteral("8,id=rehearsal")}),
              QStringLiteral("TEST TYPE = 8,id=rehearsal"));
}

TEST(Options, TrialRunTakesAFolderAndTheLaunchList) {
    const Options o = ParseOptions({QStringLiteral("--trial-run"), QStringLiteral("/tmp/t"),
                                    QStringLiteral("TEST"), QStringLiteral("TYPE = 8,id=5")});
    EXPECT_EQ(o.mode, Options::TrialRun);
    EXPECT_EQ(o.selfCheckDir, QStringLiteral("/tmp/t"));
    EXPECT_EQ(o.launchText, QStringLiteral("TEST TYPE = 8,id=5"));
    EXPECT_EQ(ParseOptions({QStringLiteral("--trial-run"), QStringLiteral("/tmp/t")}).mode,
              Options::Invalid);
}
