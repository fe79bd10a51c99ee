/* A stand-in for the adapter maker's library, for end-to-end tests. It logs
 * every call to the file named by STANDIN_LOG and answers from the environment:
 *   STANDIN_OPEN   result of the open call (default 0x00030201)
 *   STANDIN_WORD   result of every Read Word (default -9)
 *   STANDIN_BLOCK  result of every Block Read (default -9); that many bytes
 *                  (at most 300) are written, counting up from 0x41
 *   STANDIN_CRASH_AT  the call with this number (every call counts, from 1)
 *                  takes the process down, as a library that crashes would
 *   STANDIN_HOLD   a file the open call opens for reading and writing and
 *                  keeps open, as a real library keeps its USB device open
 */
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static long fromEnv(const char* name, long fallback)
{
    const char* text = getenv(name);
    return text && *text ? strtol(text, NULL, 0) : fallback;
}

static void logCall(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void logCall(const char* format, ...)
{
    static long calls = 0;
    const long crashAt = fromEnv("STANDIN_CRASH_AT", 0);
    if (crashAt > 0 && ++calls >= crashAt) {
#ifdef _WIN32
        abort();  /* no SIGKILL here; the recording tests that use this are POSIX-only */
#else
        raise(SIGKILL);
#endif
    }
    const char* path = getenv("STANDIN_LOG");
    if (!path)
        return;
    FILE* file = fopen(path, "a");
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

int SMBOpenDeviceVIDPID(int vid, int pid)
{
    logCall("open 0x%04X 0x%04X", vid, pid);
    static FILE* held = NULL; /* never closed */
    const char* hold = getenv("STANDIN_HOLD");
    if (hold && *hold && !held)
        held = fopen(hold, "r+");
    return (int)fromEnv("STANDIN_OPEN", 0x00030201);
}

int SMBCloseDevice(void)
{
    logCall("close");
    return 0;
}

int SMBEnablePEC(int enable)
{
    logCall("pec %d", enable);
    return 0;
}

int SMBReadWord(int address, int command)
{
    logCall("read word 0x%02X 0x%02X", address, command);
    return (int)fromEnv("STANDIN_WORD", -9);
}

int SMBWriteWord(int address, int command, int value)
{
    logCall("write word 0x%02X 0x%02X 0x%04X", address, command, value);
    return 0;
}

int SMBReadBlock(int address, int command, unsigned char* data)
{
    logCall("read block 0x%02X 0x%02X", address, command);
    int count = (int)fromEnv("STANDIN_BLOCK", -9);
    for (int n = 0; n < count && n < 300; ++n)
        data[n] = (unsigned char)(0x41 + n);
    return count;
}

#ifndef STANDIN_WITHOUT_WRITE_BLOCK
int SMBWriteBlock(int address, int command, unsigned char* data, int count)
{
    logCall("write block 0x%02X 0x%02X %d", address, command, count);
    (void)data;
    return 0;
}
#endif
