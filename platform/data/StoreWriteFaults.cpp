#include "platform/data/StoreWriteFaults.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform::StoreWriteFaults {
namespace {

std::atomic<bool> g_full{false};
sqlite3_vfs* g_real = nullptr; // the default layer this one stands in front of

// A file of this layer: its own header, then the real layer's file.
struct FaultFile
{
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* file)
{
    return reinterpret_cast<FaultFile*>(file)->real;
}

int faultClose(sqlite3_file* file)
{
    sqlite3_file* inner = real(file);
    const int rc = inner->pMethods ? inner->pMethods->xClose(inner) : SQLITE_OK;
    inner->pMethods = nullptr;
    return rc;
}

int faultRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset)
{
    return real(file)->pMethods->xRead(real(file), buffer, amount, offset);
}

int faultWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset)
{
    // What SQLite's own unix layer answers when write() fails with ENOSPC.
    if (g_full.load())
        return SQLITE_FULL;
    return real(file)->pMethods->xWrite(real(file), buffer, amount, offset);
}

int faultTruncate(sqlite3_file* file, sqlite3_int64 size)
{
    return real(file)->pMethods->xTruncate(real(file), size);
}

int faultSync(sqlite3_file* file, int flags)
{
    return real(file)->pMethods->xSync(real(file), flags);
}

int faultFileSize(sqlite3_file* file, sqlite3_int64* size)
{
    return real(file)->pMethods->xFileSize(real(file), size);
}

int faultLock(sqlite3_file* file, int level)
{
    return real(file)->pMethods->xLock(real(file), level);
}

int faultUnlock(sqlite3_file* file, int level)
{
    return real(file)->pMethods->xUnlock(real(file), level);
}

int faultCheckReservedLock(sqlite3_file* file, int* reserved)
{
    return real(file)->pMethods->xCheckReservedLock(real(file), reserved);
}

int faultFileControl(sqlite3_file* file, int op, void* argument)
{
    return real(file)->pMethods->xFileControl(real(file), op, argument);
}

int faultSectorSize(sqlite3_file* file)
{
    return real(file)->pMethods->xSectorSize(real(file));
}

int faultDeviceCharacteristics(sqlite3_file* file)
{
    return real(file)->pMethods->xDeviceCharacteristics(real(file));
}

int faultShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory)
{
    return real(file)->pMethods->xShmMap(real(file), region, size, extend, memory);
}

int faultShmLock(sqlite3_file* file, int offset, int n, int flags)
{
    return real(file)->pMethods->xShmLock(real(file), offset, n, flags);
}

void faultShmBarrier(sqlite3_file* file)
{
    real(file)->pMethods->xShmBarrier(real(file));
}

int faultShmUnmap(sqlite3_file* file, int deleteFlag)
{
    return real(file)->pMethods->xShmUnmap(real(file), deleteFlag);
}

int faultFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pointer)
{
    return real(file)->pMethods->xFetch(real(file), offset, amount, pointer);
}

int faultUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* pointer)
{
    return real(file)->pMethods->xUnfetch(real(file), offset, pointer);
}

// One table per version of the real layer's methods, so that SQLite calls
// only what the real file has.
sqlite3_io_methods makeMethods(int version)
{
    sqlite3_io_methods methods{};
    methods.iVersion = version;
    methods.xClose = faultClose;
    methods.xRead = faultRead;
    methods.xWrite = faultWrite;
    methods.xTruncate = faultTruncate;
    methods.xSync = faultSync;
    methods.xFileSize = faultFileSize;
    methods.xLock = faultLock;
    methods.xUnlock = faultUnlock;
    methods.xCheckReservedLock = faultCheckReservedLock;
    methods.xFileControl = faultFileControl;
    methods.xSectorSize = faultSectorSize;
    methods.xDeviceCharacteristics = faultDeviceCharacteristics;
    if (version >= 2) {
        methods.xShmMap = faultShmMap;
        methods.xShmLock = faultShmLock;
        methods.xShmBarrier = faultShmBarrier;
        methods.xShmUnmap = faultShmUnmap;
    }
    if (version >= 3) {
        methods.xFetch = faultFetch;
        methods.xUnfetch = faultUnfetch;
    }
    return methods;
}

const sqlite3_io_methods g_methods[3] = {makeMethods(1), makeMethods(2), makeMethods(3)};

int faultOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    auto* fault = reinterpret_cast<FaultFile*>(file);
    fault->real = reinterpret_cast<sqlite3_file*>(fault + 1);
    std::memset(fault->real, 0, size_t(g_real->szOsFile));
    const int rc = g_real->xOpen(g_real, name, fault->real, flags, outFlags);
    const sqlite3_io_methods* methods = fault->real->pMethods;
    if (!methods) {
        file->pMethods = nullptr;
        return rc;
    }
    const int version = methods->iVersion < 1 ? 1 : (methods->iVersion > 3 ? 3 : methods->iVersion);
    file->pMethods = &g_methods[version - 1];
    return rc;
}

int faultDelete(sqlite3_vfs*, const char* name, int syncDirectory)
{
    return g_real->xDelete(g_real, name, syncDirectory);
}

int faultAccess(sqlite3_vfs*, const char* name, int flags, int* result)
{
    return g_real->xAccess(g_real, name, flags, result);
}

int faultFullPathname(sqlite3_vfs*, const char* name, int size, char* out)
{
    return g_real->xFullPathname(g_real, name, size, out);
}

void* faultDlOpen(sqlite3_vfs*, const char* name)
{
    return g_real->xDlOpen(g_real, name);
}

void faultDlError(sqlite3_vfs*, int size, char* message)
{
    g_real->xDlError(g_real, size, message);
}

void (*faultDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void)
{
    return g_real->xDlSym(g_real, handle, symbol);
}

void faultDlClose(sqlite3_vfs*, void* handle)
{
    g_real->xDlClose(g_real, handle);
}

int faultRandomness(sqlite3_vfs*, int size, char* out)
{
    return g_real->xRandomness(g_real, size, out);
}

int faultSleep(sqlite3_vfs*, int microseconds)
{
    return g_real->xSleep(g_real, microseconds);
}

int faultCurrentTime(sqlite3_vfs*, double* now)
{
    return g_real->xCurrentTime(g_real, now);
}

int faultGetLastError(sqlite3_vfs*, int size, char* message)
{
    return g_real->xGetLastError ? g_real->xGetLastError(g_real, size, message) : 0;
}

int faultCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now)
{
    return g_real->xCurrentTimeInt64(g_real, now);
}

int faultSetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call)
{
    return g_real->xSetSystemCall(g_real, name, call);
}

sqlite3_syscall_ptr faultGetSystemCall(sqlite3_vfs*, const char* name)
{
    return g_real->xGetSystemCall(g_real, name);
}

const char* faultNextSystemCall(sqlite3_vfs*, const char* name)
{
    return g_real->xNextSystemCall(g_real, name);
}

sqlite3_vfs g_vfs{};

} // namespace

bool install()
{
    static std::once_flag once;
    static bool made = false;
    std::call_once(once, [] {
        if (sqlite3_initialize() != SQLITE_OK)
            return;
        g_real = sqlite3_vfs_find(nullptr);
        if (!g_real || g_real->iVersion < 3)
            return;
        g_vfs.iVersion = 3;
        g_vfs.szOsFile = int(sizeof(FaultFile)) + g_real->szOsFile;
        g_vfs.mxPathname = g_real->mxPathname;
        g_vfs.zName = "quillary-write-faults";
        g_vfs.xOpen = faultOpen;
        g_vfs.xDelete = faultDelete;
        g_vfs.xAccess = faultAccess;
        g_vfs.xFullPathname = faultFullPathname;
        g_vfs.xDlOpen = faultDlOpen;
        g_vfs.xDlError = faultDlError;
        g_vfs.xDlSym = faultDlSym;
        g_vfs.xDlClose = faultDlClose;
        g_vfs.xRandomness = faultRandomness;
        g_vfs.xSleep = faultSleep;
        g_vfs.xCurrentTime = faultCurrentTime;
        g_vfs.xGetLastError = faultGetLastError;
        g_vfs.xCurrentTimeInt64 = faultCurrentTimeInt64;
        g_vfs.xSetSystemCall = faultSetSystemCall;
        g_vfs.xGetSystemCall = faultGetSystemCall;
        g_vfs.xNextSystemCall = faultNextSystemCall;
        made = true;
    });
    // Again the default, should another layer have been put in front since.
    return made && sqlite3_vfs_register(&g_vfs, 1) == SQLITE_OK;
}

void setDiskFull(bool full)
{
    g_full.store(full);
}

bool diskFull()
{
    return g_full.load();
}

} // namespace platform::StoreWriteFaults
