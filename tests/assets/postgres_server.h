// A PostgreSQL server of the tests' own: a cluster made in a temporary folder, run by the
// `postgres` user (the server refuses to run as root), listening on a Unix socket in that
// folder only. Stopped and removed when the object goes.
#pragma once

#include "common/result.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace kx::test {

class PostgresServer {
public:
    ~PostgresServer() { (void)stop(); }

    // Makes the cluster (once) and starts the server; waits until it takes connections.
    Status start() {
        if (running_)
            return {};
        if (!folder_) {
            if (Status s = makeCluster(); !s)
                return s;
        }
        const QString options =
            QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off "
                           "-c full_page_writes=off -c max_connections=40")
                .arg(folder_->path());
        if (Status s =
                runAsPostgres(QStringLiteral("pg_ctl"),
                              {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                               folder_->filePath(QStringLiteral("log")), QStringLiteral("-w"),
                               QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"),
                               options, QStringLiteral("start")});
            !s)
            return s;
        running_ = true;
        return runAsPostgres(
            QStringLiteral("pg_isready"),
            {QStringLiteral("-h"), folder_->path(), QStringLiteral("-t"), QStringLiteral("30")});
    }

    // Stops the server at once (its clients are cut off); the cluster stays for start().
    Status stop() {
        if (!running_)
            return {};
        running_ = false;
        return runAsPostgres(QStringLiteral("pg_ctl"),
                             {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"),
                              QStringLiteral("fast"), QStringLiteral("-w"),
                              QStringLiteral("stop")});
    }

    bool running() const { return running_; }
    QString socketFolder() const { return folder_ ? folder_->path() : QString(); }

    // A new, empty database; its address for parseDatabaseUrl().
    Result<QString> newDatabase() {
        const QString name = QStringLiteral("kx_test_%1").arg(++databases_);
        {
            QSqlDatabase admin =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("kx.test.admin"));
            admin.setHostName(socketFolder());
            admin.setUserName(QStringLiteral("postgres"));
            admin.setDatabaseName(QStringLiteral("postgres"));
            QString error;
            if (!admin.open()) {
                error = admin.lastError().text();
            } else {
                QSqlQuery q(admin);
                if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
                    error = q.lastError().text();
            }
            admin.close();
            admin = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("kx.test.admin"));
            if (!error.isEmpty())
                return fail(QStringLiteral("Cannot make a test database: %1").arg(error));
        }
        return QStringLiteral("postgresql://postgres@/%1?host=%2").arg(name, socketFolder());
    }

    // The folder of the server's programs; empty when the package is not installed.
    static QString binFolder() {
        QDir root(QStringLiteral("/usr/lib/postgresql"));
        QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        std::sort(versions.begin(), versions.end(),
                  [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
        for (const QString& v : versions) {
            const QString bin = root.filePath(v + QStringLiteral("/bin"));
            if (QFileInfo::exists(bin + QStringLiteral("/initdb")))
                return bin;
        }
        return {};
    }

private:
    QString dataDir() const { return folder_->filePath(QStringLiteral("data")); }

    Status makeCluster() {
        if (binFolder().isEmpty())
            return fail(QStringLiteral("The PostgreSQL server programs are not installed (no "
                                       "/usr/lib/postgresql/*/bin/initdb): install the "
                                       "postgresql package"));
        const passwd* user = getpwnam("postgres");
        if (!user)
            return fail(QStringLiteral("There is no user \"postgres\" to run the test server"));
        auto folder =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kx-pg-XXXXXX"));
        if (!folder->isValid())
            return fail(QStringLiteral("Cannot make a folder for the test server: %1")
                            .arg(folder->errorString()));
        if (::geteuid() == 0 &&
            ::chown(QFile::encodeName(folder->path()).constData(), user->pw_uid, user->pw_gid) != 0)
            return fail(QStringLiteral("Cannot give the folder %1 to the postgres user")
                            .arg(folder->path()));
        folder_ = std::move(folder);
        return runAsPostgres(QStringLiteral("initdb"),
                             {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"),
                              QStringLiteral("postgres"), QStringLiteral("-A"),
                              QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                              QStringLiteral("--no-locale"), QStringLiteral("--no-sync")});
    }

    // Runs one of the server's programs as the postgres user (we may be root) and waits.
    Status runAsPostgres(const QString& program, const QStringList& arguments) {
        QStringList args;
        QString runner = QStringLiteral("runuser");
        if (::geteuid() == 0) {
            args << QStringLiteral("-u") << QStringLiteral("postgres") << QStringLiteral("--");
            args << binFolder() + QLatin1Char('/') + program;
        } else {
            runner = binFolder() + QLatin1Char('/') + program;
        }
        args << arguments;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(QDir::tempPath());
        p.start(runner, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            const QString log = QString::fromLocal8Bit(p.readAll()).trimmed();
            p.kill();
            p.waitForFinished(5000);
            return fail(QStringLiteral("%1 %2 failed: %3")
                            .arg(program, arguments.join(QLatin1Char(' ')), log));
        }
        return {};
    }

    std::unique_ptr<QTemporaryDir> folder_;
    bool running_ = false;
    int databases_ = 0;
};

} // namespace kx::test
