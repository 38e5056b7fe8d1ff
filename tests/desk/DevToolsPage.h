#pragma once

// The map page of a console running in another process, looked at from
// outside through the browser engine's remote debugging port (the console
// started with QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:<port>): the page's
// own state, read with Runtime.evaluate over the DevTools protocol. A
// minimal HTTP and WebSocket client of plain sockets; the answers are read
// with Qt's JSON parser.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

namespace velmora::test {

class DevToolsPage {
public:
    explicit DevToolsPage(int port) : m_port(port) {}
    ~DevToolsPage() { disconnect(); }
    DevToolsPage(const DevToolsPage&) = delete;
    DevToolsPage& operator=(const DevToolsPage&) = delete;

    /// The value of a script in the page (a JSON text of it); "" when the
    /// page cannot be reached or the script failed.
    std::string evaluate(const std::string& script)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (m_socket < 0 && !connectToPage()) {
                return std::string();
            }
            const int id = ++m_lastId;
            QJsonObject params;
            params[QStringLiteral("expression")] =
                QStringLiteral("JSON.stringify((function () { return %1; })())").arg(QString::fromStdString(script));
            params[QStringLiteral("returnByValue")] = true;
            QJsonObject call;
            call[QStringLiteral("id")] = id;
            call[QStringLiteral("method")] = QStringLiteral("Runtime.evaluate");
            call[QStringLiteral("params")] = params;
            if (!sendText(QJsonDocument(call).toJson(QJsonDocument::Compact))) {
                disconnect();
                continue;
            }
            for (;;) {
                QByteArray message;
                if (!readMessage(message)) {
                    disconnect();
                    break;
                }
                const QJsonObject answer = QJsonDocument::fromJson(message).object();
                if (answer.value(QStringLiteral("id")).toInt() != id) {
                    continue; // an event of the protocol
                }
                const QJsonValue value = answer.value(QStringLiteral("result"))
                                             .toObject()
                                             .value(QStringLiteral("result"))
                                             .toObject()
                                             .value(QStringLiteral("value"));
                return value.isString() ? value.toString().toStdString() : std::string();
            }
        }
        return std::string();
    }

    /// Polls script until it answers expected or ms pass; its last answer.
    std::string waitFor(const std::string& script, const std::string& expected, int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::string answer;
        while ((answer = evaluate(script)) != expected && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return answer;
    }

private:
    int connectTo()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            return -1;
        }
        return fd;
    }

    bool sendAll(int fd, const char* data, size_t length)
    {
        while (length > 0) {
            const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            data += sent;
            length -= static_cast<size_t>(sent);
        }
        return true;
    }

    /// Reads exactly length bytes within a few seconds.
    bool readAll(char* data, size_t length)
    {
        while (length > 0) {
            pollfd entry{m_socket, POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0) {
                return false;
            }
            const ssize_t got = ::recv(m_socket, data, length, 0);
            if (got <= 0) {
                return false;
            }
            data += got;
            length -= static_cast<size_t>(got);
        }
        return true;
    }

    /// An HTTP answer up to its header's end, and what came after it.
    static std::string readHttp(int fd)
    {
        std::string text;
        char buffer[4096];
        for (;;) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 5000) <= 0) {
                return text;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return text;
            }
            text.append(buffer, static_cast<size_t>(got));
            const size_t end = text.find("\r\n\r\n");
            if (end != std::string::npos) {
                const size_t length = contentLength(text);
                if (length == std::string::npos || text.size() >= end + 4 + length) {
                    return text;
                }
            }
        }
    }

    static size_t contentLength(const std::string& text)
    {
        const size_t at = text.find("Content-Length:");
        if (at == std::string::npos) {
            return std::string::npos;
        }
        return static_cast<size_t>(std::atol(text.c_str() + at + 15));
    }

    /// The debugging address of the page the console loaded.
    bool connectToPage()
    {
        const int fd = connectTo();
        if (fd < 0) {
            return false;
        }
        const std::string request =
            "GET /json/list HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\nConnection: close\r\n\r\n";
        sendAll(fd, request.data(), request.size());
        const std::string answer = readHttp(fd);
        ::close(fd);
        const size_t body = answer.find("\r\n\r\n");
        if (body == std::string::npos) {
            return false;
        }
        std::string path;
        for (const QJsonValue target : QJsonDocument::fromJson(QByteArray::fromStdString(answer.substr(body + 4))).array()) {
            const QJsonObject page = target.toObject();
            if (page.value(QStringLiteral("type")).toString() == QStringLiteral("page")) {
                const std::string url = page.value(QStringLiteral("webSocketDebuggerUrl")).toString().toStdString();
                const size_t slash = url.find("/devtools/");
                if (slash != std::string::npos) {
                    path = url.substr(slash);
                }
            }
        }
        if (path.empty()) {
            return false;
        }
        m_socket = connectTo();
        if (m_socket < 0) {
            return false;
        }
        const std::string upgrade = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                                    "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: dmVsbW9yYS1kZXNrLXRlc3Q=\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (!sendAll(m_socket, upgrade.data(), upgrade.size())) {
            disconnect();
            return false;
        }
        // The switch's header alone: the server sends nothing after it unasked.
        std::string header;
        char c = 0;
        while (header.find("\r\n\r\n") == std::string::npos) {
            if (!readAll(&c, 1)) {
                disconnect();
                return false;
            }
            header += c;
        }
        if (header.find(" 101 ") == std::string::npos) {
            disconnect();
            return false;
        }
        return true;
    }

    void disconnect()
    {
        if (m_socket >= 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }

    /// One masked text frame, as a client must send.
    bool sendText(const QByteArray& payload)
    {
        std::string frame;
        frame += static_cast<char>(0x81);
        const uint64_t length = static_cast<uint64_t>(payload.size());
        if (length < 126) {
            frame += static_cast<char>(0x80 | length);
        } else if (length < 65536) {
            frame += static_cast<char>(0x80 | 126);
            frame += static_cast<char>(length >> 8);
            frame += static_cast<char>(length & 0xFF);
        } else {
            frame += static_cast<char>(0x80 | 127);
            for (int shift = 56; shift >= 0; shift -= 8) {
                frame += static_cast<char>((length >> shift) & 0xFF);
            }
        }
        char mask[4];
        for (char& byte : mask) {
            byte = static_cast<char>(m_random() & 0xFF);
            frame += byte;
        }
        for (qsizetype i = 0; i < payload.size(); ++i) {
            frame += static_cast<char>(payload[i] ^ mask[i % 4]);
        }
        return sendAll(m_socket, frame.data(), frame.size());
    }

    /// One whole message (fragments joined); pings and the like skipped.
    bool readMessage(QByteArray& message)
    {
        message.clear();
        for (;;) {
            unsigned char head[2];
            if (!readAll(reinterpret_cast<char*>(head), 2)) {
                return false;
            }
            uint64_t length = head[1] & 0x7F;
            if (length == 126 || length == 127) {
                unsigned char extended[8];
                const size_t size = length == 126 ? 2 : 8;
                if (!readAll(reinterpret_cast<char*>(extended), size)) {
                    return false;
                }
                length = 0;
                for (size_t i = 0; i < size; ++i) {
                    length = (length << 8) | extended[i];
                }
            }
            QByteArray payload(static_cast<qsizetype>(length), '\0');
            if (length > 0 && !readAll(payload.data(), length)) {
                return false;
            }
            const int opcode = head[0] & 0x0F;
            if (opcode == 0x8) {
                return false;
            }
            if (opcode == 0x1 || opcode == 0x0) {
                message += payload;
                if ((head[0] & 0x80) != 0) {
                    return true;
                }
            }
        }
    }

    int m_port;
    int m_socket = -1;
    int m_lastId = 0;
    std::mt19937 m_random{std::random_device{}()};
};

} // namespace velmora::test
