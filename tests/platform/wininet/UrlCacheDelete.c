// Deletes the URL cache entries named on the command line through WinINet (DeleteUrlCacheEntryW),
// printing one line per URL: "deleted" or "failed <error>", a tab and the URL. Exits with 1 when
// any deletion failed.
#include <windows.h>
#include <wininet.h>

#include <stdio.h>

int wmain(int argc, wchar_t **argv)
{
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        char url[4096];
        if (WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, url, sizeof url, NULL, NULL) <= 0)
            url[0] = 0;
        if (DeleteUrlCacheEntryW(argv[i])) {
            printf("deleted\t%s\n", url);
        } else {
            printf("failed %lu\t%s\n", GetLastError(), url);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
