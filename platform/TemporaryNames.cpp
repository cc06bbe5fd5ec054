#include "platform/TemporaryNames.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>
#include <climits>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::TemporaryNames {

namespace {

constexpr char kPrefix[] = ".kantelo-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

// Read by a signal handler: fixed slots, each free, being filled or held.
enum SlotState : int { Free, Filling, HeldFile, HeldFolder };
struct Slot {
    std::atomic<int> state{Free};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};
constexpr int kSlots = 256;
Slot g_slots[kSlots];

bool alive(long pid)
{
    return pid == long(::getpid()) || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

void removeFolderWithFiles(int parent, const char *name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    if (DIR *dir = ::fdopendir(fd)) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::closedir(dir);
    } else {
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void onTermination(int signal)
{
    removeHeld();
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

QByteArray make()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = QByteArray(kPrefix) + QByteArray::number(qint64(::getpid())) + '-';
    for (int i = 0; i < 8; ++i)
        name.append(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return name;
}

long ownerOf(const char *name)
{
    if (std::strncmp(name, kPrefix, kPrefixLength) != 0)
        return 0;
    long pid = 0;
    const char *at = name + kPrefixLength;
    for (; *at >= '0' && *at <= '9' && pid < (1L << 30); ++at)
        pid = pid * 10 + (*at - '0');
    return at != name + kPrefixLength && *at == '-' && at[1] != '\0' ? pid : 0;
}

void clearLeftoversIn(int folder)
{
    struct stat st {};
    if (folder < 0 || ::fstat(folder, &st) != 0)
        return;
    static QMutex lock;
    static QSet<QPair<quint64, quint64>> cleared;
    {
        const QMutexLocker locked(&lock);
        if (cleared.contains({quint64(st.st_dev), quint64(st.st_ino)}))
            return;
        cleared.insert({quint64(st.st_dev), quint64(st.st_ino)});
    }
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const long pid = ownerOf(entry->d_name);
        if (pid <= 0 || alive(pid))
            continue;
        struct stat leftover {};
        if (::fstatat(::dirfd(dir), entry->d_name, &leftover, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(leftover.st_mode))
            removeFolderWithFiles(::dirfd(dir), entry->d_name);
        else if (S_ISREG(leftover.st_mode))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

Held::Held(int folder, const QByteArray &name, bool isFolder)
{
    reset(folder, name, isFolder);
}

Held::~Held()
{
    reset();
}

void Held::reset(int folder, const QByteArray &name, bool isFolder)
{
    if (m_slot >= 0) {
        g_slots[m_slot].state.store(Free);
        m_slot = -1;
    }
    if (folder < 0 || name.isEmpty() || name.size() >= qsizetype(sizeof Slot::name))
        return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = Free;
        if (!g_slots[i].state.compare_exchange_strong(expected, Filling))
            continue;
        g_slots[i].folder = folder;
        std::memcpy(g_slots[i].name, name.constData(), size_t(name.size()) + 1);
        g_slots[i].state.store(isFolder ? HeldFolder : HeldFile);
        m_slot = i;
        return;
    }
    // All taken: the next run in the folder clears it.
}

void removeHeld()
{
    // Only calls a signal handler may make.
    for (int pass = 0; pass < 2; ++pass) {
        const int wanted = pass == 0 ? HeldFile : HeldFolder;
        for (Slot &slot : g_slots) {
            if (slot.state.load() == wanted)
                ::unlinkat(slot.folder, slot.name, pass == 0 ? 0 : AT_REMOVEDIR);
        }
    }
}

void removeHeldAtTermination()
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction before {};
        // A signal the program was started to ignore (nohup) stays ignored.
        if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = onTermination;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace platform::TemporaryNames
