#include "mapview/PageDocumentView.h"

#include "mapview/CefClientV8Handler.h"
#include "mapview/PageResources.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

namespace velmora {

PageDocumentView::PageDocumentView(const QString& applicationDirectory, QSize size,
                                   CefClientV8Listener* listener, const PageDocument::Config& config) {
    m_window.resize(size);
    auto* layout = new QVBoxLayout(&m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    PageResources::install(*m_host.getSchemeHandler());
    m_host.setListener(this);
    if (listener != nullptr) {
        m_extension = std::make_unique<CefClientV8Handler>(listener);
        m_host.registerExtension(m_extension.get());
    }
    m_host.setApplicationDirectory(applicationDirectory);
    m_host.setPageDocument(PageDocument::build(config));
    QWebEngineView* view = m_host.createBrowser(&m_window);
    layout->addWidget(view);
    m_window.show();
}

PageDocumentView::~PageDocumentView() {
    m_host.setListener(nullptr);
}

void PageDocumentView::pump(int ms) {
    // Waits for events rather than polling for them: a polling loop keeps
    // a processor busy that the engine's own threads need.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool PageDocumentView::waitUntil(const QString& script, int timeoutMs, int pollMs) {
    QElapsedTimer timer;
    timer.start();
    while (evaluate(script) != QVariant(true)) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        pump(pollMs);
    }
    return true;
}

bool PageDocumentView::waitLoaded(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!m_loaded && timer.elapsed() < timeoutMs) {
        pump(10);
    }
    return m_loaded;
}

void PageDocumentView::execute(const QString& command) {
    m_host.execute(command);
}

QVariant PageDocumentView::evaluate(const QString& script, int timeoutMs) {
    QWebEnginePage* page = m_host.getPage();
    if (page == nullptr) {
        return QVariant();
    }
    // The answer may come after a time-out: it then lands in state that is
    // still alive and is ignored.
    struct State {
        QVariant result;
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    auto state = std::make_shared<State>();
    QEventLoop loop;
    state->loop = &loop;
    page->runJavaScript(script, [state](const QVariant& value) {
        state->result = value;
        state->done = true;
        if (state->loop != nullptr) {
            state->loop->quit();
        }
    });
    if (!state->done) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    state->loop = nullptr;
    return state->result;
}

QImage PageDocumentView::grab() {
    return m_window.grab().toImage();
}

} // namespace velmora
