#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace platform {

// Serialises access to one file among the threads of this process. Each
// reader, writer or remover of a path holds the path's lock for the whole of
// its work, so a reader never sees a half-finished sequence of steps.
// Between processes, safety comes from atomic renames instead.
class FileCoordinator
{
public:
    class Access
    {
    public:
        Access(Access&&) noexcept = default;
        Access& operator=(Access&&) noexcept = default;
        ~Access();
        const QString& path() const { return m_path; }

    private:
        friend class FileCoordinator;
        // Takes the lock, or with `tryOnly` leaves `mutex` empty when another
        // thread holds it.
        Access(QString path, std::shared_ptr<std::mutex> mutex, bool tryOnly = false);
        QString m_path;
        std::shared_ptr<std::mutex> m_mutex;
    };

    // Blocks until this process holds `path`. The path is made absolute and
    // clean first, so two spellings of one file share one lock. An empty path
    // cannot be coordinated and gives an empty optional-like Access (path()
    // empty).
    static Access coordinate(const QString& path);
    // The same without waiting: nothing when another thread holds `path`.
    static std::optional<Access> tryCoordinate(const QString& path);

private:
    static std::shared_ptr<std::mutex> lockFor(const QString& path);
};

} // namespace platform
