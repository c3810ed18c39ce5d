// Adds entries to the WinINet URL cache of the prefix it runs in: ordinary and sticky cache entries
// with their files, persistent cookies and history entries. Prints one line per entry it added:
// the entry type in hexadecimal, a tab and the URL the cache keeps it under (UTF-8). Exits with 1
// when any entry could not be added.
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static void printLine(DWORD type, const wchar_t *url)
{
    char text[4096];
    const int length = WideCharToMultiByte(CP_UTF8, 0, url, -1, text, sizeof text, NULL, NULL);
    if (length > 0)
        printf("%08lx\t%s\n", (unsigned long)type, text);
}

// Stores content as the cached file of url, as a download would.
static int addCachedFile(const wchar_t *url, const wchar_t *extension, const char *content,
                         DWORD size, DWORD type)
{
    wchar_t path[MAX_PATH];
    if (!CreateUrlCacheEntryW(url, size, extension, path, 0)) {
        fprintf(stderr, "CreateUrlCacheEntryW failed: %lu\n", GetLastError());
        return 0;
    }
    HANDLE file =
            CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, content, size, &written, NULL);
    CloseHandle(file);
    if (!wrote || written != size)
        return 0;
    static const wchar_t headers[] = L"HTTP/1.1 200 OK\r\n\r\n";
    FILETIME none = {0, 0};
    if (!CommitUrlCacheEntryW(url, path, none, none, type, (wchar_t *)headers,
                              (DWORD)wcslen(headers), extension, NULL)) {
        fprintf(stderr, "CommitUrlCacheEntryW failed: %lu\n", GetLastError());
        return 0;
    }
    printLine(type, url);
    return 1;
}

static int addCookie(const wchar_t *user, const wchar_t *url, const wchar_t *host,
                     const wchar_t *name, const wchar_t *value)
{
    wchar_t data[256];
    swprintf(data, 256, L"%ls; expires=Fri, 01 Jan 2038 00:00:00 GMT", value);
    if (!InternetSetCookieW(url, name, data)) {
        fprintf(stderr, "InternetSetCookieW failed: %lu\n", GetLastError());
        return 0;
    }
    wchar_t key[512];
    swprintf(key, 512, L"Cookie:%ls@%ls", user, host);
    printLine(COOKIE_CACHE_ENTRY, key);
    return 1;
}

static int addVisit(const wchar_t *user, const wchar_t *url)
{
    wchar_t key[512];
    swprintf(key, 512, L"Visited: %ls@%ls", user, url);
    FILETIME none = {0, 0};
    if (!CommitUrlCacheEntryW(key, NULL, none, none, URLHISTORY_CACHE_ENTRY, NULL, 0, NULL, NULL)) {
        fprintf(stderr, "CommitUrlCacheEntryW (history) failed: %lu\n", GetLastError());
        return 0;
    }
    printLine(URLHISTORY_CACHE_ENTRY, key);
    return 1;
}

int wmain(void)
{
    wchar_t user[256];
    DWORD userLength = 256;
    if (!GetUserNameW(user, &userLength))
        return 1;

    static char large[70000];
    for (size_t i = 0; i < sizeof large; ++i)
        large[i] = (char)('a' + i % 26);

    int ok = 1;
    ok &= addCachedFile(L"http://example.com/a/page.html", L"html", "<html>hello</html>", 18,
                        NORMAL_CACHE_ENTRY);
    ok &= addCachedFile(L"http://example.com/sticky.png", L"png", "sticky!", 7,
                        NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY);
    ok &= addCachedFile(L"http://example.org/big/data.bin", L"bin", large, sizeof large,
                        NORMAL_CACHE_ENTRY);
    ok &= addCachedFile(L"https://example.net/keep.css", L"css", "body{}", 6, NORMAL_CACHE_ENTRY);
    ok &= addCachedFile(L"http://example.net/caf\u00e9/men\u00fc.html", L"html", "menu", 4,
                        NORMAL_CACHE_ENTRY);
    ok &= addCookie(user, L"http://example.com/", L"example.com/", L"sess", L"abc123");
    ok &= addCookie(user, L"http://example.org/", L"example.org/", L"id", L"42");
    ok &= addVisit(user, L"http://example.com/a/page.html");
    ok &= addVisit(user, L"http://example.org/");
    ok &= addVisit(user, L"http://example.net/keep.css");
    return ok ? 0 : 1;
}
