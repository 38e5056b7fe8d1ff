#pragma once

#include "app/IPageRunner.h"

namespace velmora {

class CefClientHandler;

/// Page commands through the browser host, which drops them until the page
/// has loaded.
class PageRunner : public IPageRunner {
public:
    explicit PageRunner(CefClientHandler& host) : m_host(host) {}

    void execute(const QString& command) override;
    void execute(const QStringList& commands) override;

private:
    CefClientHandler& m_host;
};

} // namespace velmora
