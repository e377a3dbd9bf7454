#include "platform/core/Log.h"
#include "platform/secret/SecretBackend.h"
#include "sync/QVRPasswordManager.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QUuid>

#include <memory>

namespace {

using Manager = QVRPasswordManager;

class PasswordManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qgetenv("QUILLARY_SECRET_BACKEND") == "libsecret") {
            if (qEnvironmentVariableIsEmpty("QUILLARY_TEST_KEYRING"))
                GTEST_SKIP() << "no test keyring (QUILLARY_TEST_KEYRING unset)";
            platform::SecretBackend::setCurrentForTesting(nullptr);
            QString reason;
            ASSERT_TRUE(platform::SecretBackend::current().isAvailable(&reason)) << reason.toStdString();
        } else {
            memory = std::make_unique<platform::MemorySecretBackend>();
            platform::SecretBackend::setCurrentForTesting(memory.get());
        }
        // A server of its own per test keeps the shared keyring's items apart.
        server = QStringLiteral("sync-%1.test").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        platform::setLogSink([this](const QString& line) { logged << line; });
    }
    void TearDown() override
    {
        for (const QString& account : {email, email + code})
            Manager::deletePasswordForAccount(account, server);
        platform::setLogSink(nullptr);
        platform::SecretBackend::setCurrentForTesting(nullptr);
    }

    std::unique_ptr<platform::MemorySecretBackend> memory;
    QString server;
    QStringList logged;
    const QString email = QStringLiteral("anna@example.org");
    const QString code = QStringLiteral(" [quillary]");
};

TEST_F(PasswordManager, StoringTwiceReplacesTheOneItem)
{
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("first"), email, server));
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("sécond ü"), email, server));
    EXPECT_EQ(Manager::passwordForAccount(email, server, std::nullopt, QStringLiteral("ERR")),
              QStringLiteral("sécond ü"));
    ASSERT_TRUE(Manager::deletePasswordForAccount(email, server));
    EXPECT_EQ(Manager::passwordForAccount(email, server, QStringLiteral("none"), QStringLiteral("ERR")),
              QStringLiteral("none"))
        << "a second item was left behind by the second store";
}

TEST_F(PasswordManager, MissingItemGivesTheDefaultAndLogsNotFound)
{
    EXPECT_EQ(Manager::passwordForAccount(email, server, QStringLiteral(""), std::nullopt),
              QStringLiteral(""));
    ASSERT_EQ(logged.size(), 1);
    EXPECT_EQ(logged[0], QStringLiteral("Error finding password for %1 on %2: -25300").arg(email, server));
    EXPECT_FALSE(Manager::deletePasswordForAccount(email, server));
    EXPECT_EQ(logged.size(), 1) << "deleting nothing is not an error";
}

TEST_F(PasswordManager, EmptyAccountOrServerIsRefusedWithoutTouchingTheKeyring)
{
    struct Case
    {
        QString account, server;
    };
    for (const Case& c : {Case{QString(), server}, Case{QStringLiteral(""), server}, Case{email, QString()},
                          Case{email, QStringLiteral("")}}) {
        EXPECT_EQ(Manager::passwordForAccount(c.account, c.server, QStringLiteral("d"), QStringLiteral("e")),
                  QStringLiteral("e"));
        EXPECT_FALSE(Manager::deletePasswordForAccount(c.account, c.server));
    }
    EXPECT_FALSE(Manager::setPassword(QStringLiteral("p"), QString(), server));
    EXPECT_FALSE(Manager::setPassword(QString(), email, server));
    EXPECT_TRUE(logged.isEmpty());
}

TEST_F(PasswordManager, LoginCodeIsInvisibleToAccountLookupAndSurvivesIt)
{
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("K-123"), email + code, server, true));
    EXPECT_EQ(Manager::accountOnServer(server), std::nullopt);
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("pw"), email, server));
    EXPECT_EQ(Manager::accountOnServer(server), email);
    EXPECT_EQ(Manager::passwordForAccount(email + code, server, std::nullopt, std::nullopt),
              QStringLiteral("K-123"))
        << "looking up the account must not delete the login code";
    EXPECT_EQ(Manager::passwordForAccount(email, server, std::nullopt, std::nullopt), QStringLiteral("pw"));
}

TEST_F(PasswordManager, AccountLookupPassesOverACodeStoredAsAPassword)
{
    // An account name with the code suffix under the password kind is stale;
    // it is skipped rather than deleted, since deletion goes by account.
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("x"), email + code, server, false));
    EXPECT_EQ(Manager::accountOnServer(server), std::nullopt);
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("pw"), QStringLiteral("zed@example.org"), server));
    EXPECT_EQ(Manager::accountOnServer(server), QStringLiteral("zed@example.org"));
    EXPECT_EQ(Manager::passwordForAccount(email + code, server, std::nullopt, std::nullopt),
              QStringLiteral("x"));
    Manager::deletePasswordForAccount(QStringLiteral("zed@example.org"), server);
}

TEST_F(PasswordManager, KeyringFailureIsReportedAndNeverReadAsNoPassword)
{
    if (!memory)
        GTEST_SKIP() << "failures are injected in memory only";
    ASSERT_TRUE(Manager::setPassword(QStringLiteral("secret-pw"), email, server));
    memory->setFailure(4);
    EXPECT_EQ(Manager::passwordForAccount(email, server, QStringLiteral(""), std::nullopt), std::nullopt);
    EXPECT_FALSE(Manager::setPassword(QStringLiteral("secret-pw2"), email, server));
    EXPECT_FALSE(Manager::deletePasswordForAccount(email, server));
    EXPECT_EQ(logged,
              (QStringList{QStringLiteral("Error finding password for %1 on %2: 4").arg(email, server),
                           QStringLiteral("Error saving password for %1 on %2: 4").arg(email, server),
                           QStringLiteral("Error deleting password for %1 on %2: 4").arg(email, server)}));
    for (const QString& line : logged)
        EXPECT_FALSE(line.contains(QStringLiteral("secret-pw")));
    memory->setFailure(0);
}

} // namespace
