#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include <QObject>
#include <QString>

#include "driver/search_job.h"

// Runs one search at a time on a worker thread. Progress and the end come
// back to the thread that owns the runner as signals; the outcome is taken
// with takeOutcome() once finished() has been emitted.
class SearchRunner : public QObject {
    Q_OBJECT
public:
    explicit SearchRunner(QObject* parent = nullptr);
    ~SearchRunner() override;

    // Clears the abort flag and starts the search; false if one is running.
    bool start(const SearchOptions& options);
    bool isRunning() const { return m_worker.joinable(); }

    // AbortFlag: set by "中断" and Esc, cleared only when a search starts.
    void abort() { m_abort.store(true); }
    bool abortRequested() const { return m_abort.load(); }

    // Sets the abort flag and waits for the worker to end; the outcome of an
    // unfinished search is dropped.
    void abortAndWait();

    // After finished(): the outcome, or nothing and errorMessage() set.
    std::optional<SearchOutcome> takeOutcome() { return std::exchange(m_outcome, std::nullopt); }
    const QString& errorMessage() const { return m_error; }

signals:
    void progressed(const SearchProgress& progress);
    void finished();

private:
    void deliver(std::shared_ptr<SearchOutcome> outcome, const QString& error);

    // Not a WorkerPool thread: it waits the whole search in runSearch, which
    // runs the search's own pool, so a worker of that pool cannot host it.
    std::thread m_worker;
    std::atomic<bool> m_abort {false};
    std::optional<SearchOutcome> m_outcome;
    QString m_error;
};
