#include "app/LaunchArgs.h"
#include "app/Options.h"

#include <gtest/gtest.h>

using namespace brevik;

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
