#pragma once

// A loopback stand-in for the web sync service: HTTP/1.1 POSTs of form
// bodies on /sync/quillary/xml.php answered with flat XML. It keeps accounts,
// login codes, client identifiers and notes with their service times, and
// has switches for the ways a real service or network fails.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <zlib.h>

class WebSyncFakeService : public QObject
{
public:
    using Pairs = QList<QPair<QString, QString>>;

    struct Account
    {
        QString password;
        QString name;
    };
    struct ServiceNote
    {
        QString text;
        double date = 0;
        double modified = 0;
        double updated = 0; // service time of this version
        bool deleted = false;
        bool archived = false;
    };
    enum class Fault
    {
        None,
        Slow,
        ServerError500,
        Truncated,
        Malformed,
        NoSuccess,
        Drop,
        EmptyBody,
        Portal
    };

    // Each fault applies to the next `count` requests.
    Fault fault = Fault::None;
    int faultCount = 0;
    int slowMilliseconds = 0;
    bool gzipReplies = false;
    // Seconds the service's clock runs behind the client's.
    double clockSkew = 0;
    // Refuse code logins with retry, as after the code was revoked.
    bool revokeCodes = false;
    // Replaces the normal answer; an empty result falls back to it.
    std::function<QByteArray(const Pairs&)> script;

    std::map<QString, Account> accounts;  // by e-mail
    std::map<QString, ServiceNote> notes; // by uuid (one account is enough)
    std::map<QString, QString> codes;     // client -> code
    std::vector<Pairs> requests;          // every decoded body, in order
    std::vector<QByteArray> rawBodies;
    // Time spent in the service itself (reading, answering, writing), so that
    // a benchmark can tell it from the client's time.
    std::chrono::nanoseconds busy{0};
    // Pages answered to GET requests, by path; other paths get a 404.
    std::map<QString, QByteArray> pages;
    std::vector<QString> pageRequests; // the paths asked for, in order
    // POSTs to these paths (query included) are answered with a redirect:
    // path -> {status, Location}. The body is recorded first, as any other.
    std::map<QString, std::pair<int, QByteArray>> redirects;
    std::vector<QString> postPaths; // the paths POSTed to, in order

    WebSyncFakeService()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                accept(socket);
        });
    }

    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
    double serviceNow() const { return QDateTime::currentMSecsSinceEpoch() / 1000.0 - clockSkew; }

    static QString value(const Pairs& pairs, const QString& key)
    {
        for (const auto& pair : pairs)
            if (pair.first == key)
                return pair.second;
        return QString();
    }
    static bool has(const Pairs& pairs, const QString& key)
    {
        for (const auto& pair : pairs)
            if (pair.first == key)
                return true;
        return false;
    }
    static QStringList keys(const Pairs& pairs)
    {
        QStringList result;
        for (const auto& pair : pairs)
            result << pair.first;
        return result;
    }
    int count(const QString& cmd) const
    {
        int n = 0;
        for (const Pairs& pairs : requests)
            n += value(pairs, QStringLiteral("cmd")) == cmd;
        return n;
    }

    static QString escapeXml(const QString& s)
    {
        QString out = s;
        out.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
        out.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
        out.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
        out.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
        return out;
    }

private:
    static QString number(double v) { return QString::number(v, 'f', 6); }

    void accept(QTcpSocket* socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket] { socket->deleteLater(); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            const auto started = std::chrono::steady_clock::now();
            struct Count
            {
                std::chrono::nanoseconds& total;
                std::chrono::steady_clock::time_point started;
                ~Count() { total += std::chrono::steady_clock::now() - started; }
            } count{busy, started};
            buffer->append(socket->readAll());
            for (;;) {
                const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
                if (headerEnd < 0)
                    return;
                const QByteArray head = buffer->left(headerEnd);
                qsizetype length = 0;
                for (const QByteArray& line : head.split('\n')) {
                    if (line.toLower().startsWith("content-length:"))
                        length = line.mid(15).trimmed().toLongLong();
                }
                if (buffer->size() < headerEnd + 4 + length)
                    return;
                const QByteArray body = buffer->mid(headerEnd + 4, length);
                buffer->remove(0, headerEnd + 4 + length);
                if (head.startsWith("GET ")) {
                    servePage(socket, QString::fromUtf8(head.split(' ').value(1)));
                    continue;
                }
                const QString path = QString::fromUtf8(head.split(' ').value(1));
                postPaths.push_back(path);
                const auto redirect = redirects.find(path);
                if (redirect != redirects.end()) {
                    requests.push_back(decode(body));
                    rawBodies.push_back(body);
                    socket->write("HTTP/1.1 " + QByteArray::number(redirect->second.first) +
                                  " Moved\r\nLocation: " + redirect->second.second +
                                  "\r\nContent-Length: 0\r\n\r\n");
                    continue;
                }
                const bool rightPath =
                    head.startsWith("POST ") && QUrl(path).path() == "/sync/quillary/xml.php";
                if (!respond(socket, rightPath, body))
                    return;
            }
        });
    }

    static Pairs decode(const QByteArray& body)
    {
        Pairs pairs;
        for (const QByteArray& part : body.split('&')) {
            if (part.isEmpty())
                continue;
            const qsizetype eq = part.indexOf('=');
            const QByteArray key = eq < 0 ? part : part.left(eq);
            const QByteArray val = eq < 0 ? QByteArray() : part.mid(eq + 1);
            pairs.append({QString::fromUtf8(QByteArray::fromPercentEncoding(key)),
                          QString::fromUtf8(QByteArray::fromPercentEncoding(val))});
        }
        return pairs;
    }

    static QByteArray gzip(const QByteArray& data)
    {
        z_stream stream{};
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        QByteArray out(static_cast<qsizetype>(deflateBound(&stream, data.size())) + 32, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = static_cast<uInt>(data.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FINISH);
        out.resize(static_cast<qsizetype>(stream.total_out));
        deflateEnd(&stream);
        return out;
    }

    void send(QTcpSocket* socket, int status, const QByteArray& body, const QByteArray& type = "text/xml")
    {
        QByteArray payload = body;
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error") + "\r\n";
        head += "Content-Type: " + type + "; charset=utf-8\r\n";
        if (gzipReplies && !payload.isEmpty()) {
            payload = gzip(payload);
            head += "Content-Encoding: gzip\r\n";
        }
        head += "Content-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n";
        socket->write(head + payload);
    }

    void servePage(QTcpSocket* socket, const QString& path)
    {
        pageRequests.push_back(path);
        const auto page = pages.find(path);
        if (page == pages.end())
            send(socket, 404, "<html><body>not here</body></html>", "text/html");
        else
            send(socket, 200, page->second, "text/html");
    }

    // False when the connection was dropped.
    bool respond(QTcpSocket* socket, bool rightPath, const QByteArray& body)
    {
        const Pairs pairs = decode(body);
        requests.push_back(pairs);
        rawBodies.push_back(body);
        Fault now = Fault::None;
        if (faultCount > 0) {
            now = fault;
            --faultCount;
        }
        if (!rightPath) {
            send(socket, 404, "<html><body>not here</body></html>", "text/html");
            return true;
        }
        if (now == Fault::Drop) {
            socket->abort();
            return false;
        }
        QByteArray reply = script ? script(pairs) : QByteArray();
        if (reply.isEmpty())
            reply = answer(pairs);
        switch (now) {
        case Fault::Slow: {
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(slowMilliseconds, this, [this, guard, reply] {
                if (guard)
                    send(guard, 200, reply);
            });
            return true;
        }
        case Fault::ServerError500:
            send(socket, 500, "<html><body><h1>Internal Server Error</h1></body></html>", "text/html");
            return true;
        case Fault::Truncated:
            send(socket, 200, reply.left(reply.size() * 2 / 3));
            return true;
        case Fault::Malformed:
            send(socket, 200, "<reply><success value=\"true\"/><updated value=\"99\"><note></reply>");
            return true;
        case Fault::NoSuccess:
            // Well-formed, but not the service's answer.
            send(socket, 200,
                 "<html><body><code>portal</code><message value=\"Log in to the hotel network\"/>"
                 "<updated value=\"4000000000\"/></body></html>");
            return true;
        case Fault::EmptyBody:
            send(socket, 200, QByteArray());
            return true;
        default:
            send(socket, 200, reply);
        }
        return true;
    }

    QByteArray answer(const Pairs& pairs)
    {
        const QString cmd = value(pairs, QStringLiteral("cmd"));
        const QString email = value(pairs, QStringLiteral("email"));
        QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quorvane>");
        const double now = serviceNow();
        const double clientNow = value(pairs, QStringLiteral("now")).toDouble();

        if (cmd == QLatin1String("register")) {
            if (accounts.count(email) || value(pairs, QStringLiteral("terms")) != QLatin1String("true")) {
                out += QStringLiteral(
                    "<success value=\"false\"/><message value=\"That address is already registered.\"/>");
            } else {
                accounts[email] = {value(pairs, QStringLiteral("newpassword")),
                                   value(pairs, QStringLiteral("name"))};
                out += QStringLiteral("<success value=\"true\"/>");
                out += issueClient();
            }
            return (out + QStringLiteral("</quorvane>")).toUtf8();
        }

        const auto account = accounts.find(email);
        bool loggedIn = false;
        bool byCode = false;
        QString client = value(pairs, QStringLiteral("client"));
        if (account != accounts.end()) {
            if (has(pairs, QStringLiteral("code"))) {
                byCode = true;
                loggedIn = !revokeCodes && codes.count(client) &&
                           codes[client] == value(pairs, QStringLiteral("code"));
            } else {
                loggedIn = account->second.password == value(pairs, QStringLiteral("password"));
            }
        }
        if (!loggedIn) {
            out += byCode ? QStringLiteral("<success value=\"false\" retry=\"true\"/>")
                          : QStringLiteral(
                                "<success value=\"false\"/><message value=\"Wrong e-mail or password.\"/>");
            return (out + QStringLiteral("</quorvane>")).toUtf8();
        }
        out += QStringLiteral("<success value=\"true\"/>");
        if (!byCode)
            out += issueClient(client);

        const QString uuid = value(pairs, QStringLiteral("uuid"));
        if (cmd == QLatin1String("add") || cmd == QLatin1String("delete")) {
            ServiceNote& note = notes[uuid];
            note.modified = value(pairs, QStringLiteral("modified")).toDouble();
            note.updated = note.modified;
            note.deleted = cmd == QLatin1String("delete");
            if (!note.deleted) {
                note.text = value(pairs, QStringLiteral("text"));
                note.date = value(pairs, QStringLiteral("date")).toDouble();
            }
        } else if (cmd == QLatin1String("get")) {
            const double since = value(pairs, QStringLiteral("updated")).toDouble();
            for (const auto& [id, note] : notes) {
                if (note.updated <= since)
                    continue;
                out += QStringLiteral(
                           "<note uuid=\"%1\" updated=\"%2\" deleted=\"%3\" date=\"%4\" archived=\"%5\" "
                           "modified=\"%6\">%7</note>")
                           .arg(escapeXml(id), number(note.updated),
                                note.deleted ? QStringLiteral("1") : QStringLiteral("0"), number(note.date),
                                note.archived ? QStringLiteral("1") : QStringLiteral("0"),
                                number(note.modified), escapeXml(note.text));
            }
        }
        if (cmd != QLatin1String("logout")) {
            out += QStringLiteral("<updated value=\"%1\"/>").arg(number(now));
            if (clientNow > 0)
                out += QStringLiteral("<offset value=\"%1\"/>").arg(number(clientNow - now));
            out += QStringLiteral("<message value=\"Note synced…\"/>");
        }
        return (out + QStringLiteral("</quorvane>")).toUtf8();
    }

    QString issueClient(QString client = QString())
    {
        if (client.isEmpty())
            client = QStringLiteral("C%1").arg(++clients_);
        const QString code = QStringLiteral("K%1x%2").arg(clients_).arg(++issued_);
        codes[client] = code;
        return QStringLiteral("<client value=\"%1\"/><code value=\"%2\"/>").arg(client, code);
    }

    QTcpServer server_;
    int clients_ = 0;
    int issued_ = 0;
};
