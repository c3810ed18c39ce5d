// Lists every entry of the WinINet URL cache of the prefix it runs in, one line per entry: the
// entry type in hexadecimal, the complete 64-bit size, the source URL and the local file, separated
// by tabs (UTF-8). Exits with 1 when the enumeration ends with anything but "no more items".
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>

static void printText(const wchar_t *text)
{
    char buffer[4096];
    if (text && WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL) > 0)
        fputs(buffer, stdout);
}

int wmain(void)
{
    DWORD capacity = 4096;
    INTERNET_CACHE_ENTRY_INFOW *entry = malloc(capacity);
    DWORD size = capacity;
    HANDLE search = FindFirstUrlCacheEntryW(NULL, entry, &size);
    if (!search && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        capacity = size;
        entry = realloc(entry, capacity);
        search = FindFirstUrlCacheEntryW(NULL, entry, &size);
    }
    if (!search) {
        free(entry);
        return GetLastError() == ERROR_NO_MORE_ITEMS ? 0 : 1;
    }
    for (;;) {
        const unsigned long long bytes =
                ((unsigned long long)entry->dwSizeHigh << 32) | entry->dwSizeLow;
        printf("%08lx\t%llu\t", (unsigned long)entry->CacheEntryType, bytes);
        printText(entry->lpszSourceUrlName);
        fputs("\t", stdout);
        printText(entry->lpszLocalFileName);
        fputs("\n", stdout);

        size = capacity;
        if (FindNextUrlCacheEntryW(search, entry, &size))
            continue;
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            capacity = size;
            entry = realloc(entry, capacity);
            size = capacity;
            if (FindNextUrlCacheEntryW(search, entry, &size))
                continue;
        }
        break;
    }
    const DWORD error = GetLastError();
    FindCloseUrlCache(search);
    free(entry);
    return error == ERROR_NO_MORE_ITEMS ? 0 : 1;
}
