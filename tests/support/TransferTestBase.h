#pragma once

#include "TestServer.h"

#include "getter/engine/Inet.h"

#include <QDir>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// What the transfer tests share: a loopback server that closes each
// connection, one that keeps them, one over HTTPS where TLS is available,
// and a fresh folder for each download.
class TransferTestBase : public QObject
{
protected:
    // False with the reason in *error when a server or the folder is missing.
    bool startServers(QString *error)
    {
        for (const TestServer *server : {&m_http, &m_kept}) {
            if (!server->isListening()) {
                *error = server->errorString();
                return false;
            }
        }
        m_kept.setKeepAlive(true);
        if (!m_root.isValid()) {
            *error = m_root.errorString();
            return false;
        }
        if (TestServer::tlsAvailable()) {
            Inet::AddTrustedCaFile(TestServer::testCertificatePath());
            m_https = std::make_unique<TestServer>(TestServer::Https);
            if (!m_https->isListening()) {
                *error = m_https->errorString();
                return false;
            }
        }
        return true;
    }

    QString NewFolder()
    {
        const QString path = m_root.filePath(QString::number(++m_folderSerial));
        return QDir().mkpath(path) ? path : QString();
    }

    TestServer m_http;
    TestServer m_kept;
    std::unique_ptr<TestServer> m_https;
    QTemporaryDir m_root;

private:
    int m_folderSerial = 0;
};
