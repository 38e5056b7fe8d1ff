#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmora {

/// Something that runs command lines in the map page, in the order given.
/// The browser host drops lines while the page has not loaded; a test
/// records them.
class IPageRunner {
public:
    virtual ~IPageRunner() = default;
    /// Runs one command line.
    virtual void execute(const QString& command) = 0;
    /// Runs lines in order (a compound command).
    virtual void execute(const QStringList& commands) {
        for (const QString& command : commands) {
            execute(command);
        }
    }
    /// Calls done once the page has run every command given before (at
    /// once where there is no page to wait for, or it is not loaded).
    virtual void whenRun(std::function<void()> done) { done(); }
};

} // namespace velmora
