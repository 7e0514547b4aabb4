#include "app/search_runner.h"

#include <exception>
#include <utility>

#include <QMetaObject>

#include "review/error_messages.h"

SearchRunner::SearchRunner(QObject* parent) : QObject(parent) {}

SearchRunner::~SearchRunner()
{
    abortAndWait();
}

bool SearchRunner::start(const SearchOptions& options)
{
    if (isRunning())
        return false;
    m_abort.store(false);
    m_outcome.reset();
    m_error.clear();
    m_worker = std::thread([this, options] {
        // Everything reaches the GUI thread as queued calls on this object;
        // they are dropped if the runner is gone by then, and the destructor
        // joins first, so `this` outlives every call made here.
        ProgressCallback progress = [this](const SearchProgress& p) {
            QMetaObject::invokeMethod(this, [this, p] { emit progressed(p); }, Qt::QueuedConnection);
        };
        std::shared_ptr<SearchOutcome> outcome;
        QString error;
        try {
            outcome = std::make_shared<SearchOutcome>(runSearch(options, m_abort, progress));
        } catch (const std::exception& e) {
            error = QString::fromStdString(exceptionText(e));
        } catch (...) {
            error = QStringLiteral("不明なエラー");
        }
        QMetaObject::invokeMethod(this, [this, outcome, error] { deliver(outcome, error); }, Qt::QueuedConnection);
    });
    return true;
}

void SearchRunner::deliver(std::shared_ptr<SearchOutcome> outcome, const QString& error)
{
    if (m_worker.joinable())
        m_worker.join();
    if (outcome)
        m_outcome = std::move(*outcome);
    m_error = error;
    emit finished();
}

void SearchRunner::abortAndWait()
{
    if (!m_worker.joinable())
        return;
    m_abort.store(true);
    m_worker.join();
}
