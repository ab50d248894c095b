#pragma once

#include <vector>

class CWebAccess;

// Drives any number of begun downloads together on one libcurl multi handle, on the
// thread that calls Run. The downloads share its connections (kept alive between them,
// and multiplexed over HTTP/2 where a server offers it over TLS), name look-ups and TLS
// sessions. How many run at once is the caller's choice: the loop starts what it is given.
class FetchLoop {
public:
    FetchLoop();
    ~FetchLoop();
    FetchLoop(const FetchLoop&) = delete;
    FetchLoop& operator=(const FetchLoop&) = delete;

    // A begun, unfinished download; the loop drives it until it is finished or removed.
    void Add(CWebAccess& session);
    // Takes a download out of the loop before it is finished: it ends as cancelled.
    void Remove(CWebAccess& session);

    // Drives the downloads for at most timeoutMs, less when one finishes or Wakeup is
    // called, and returns those that finished, already out of the loop.
    std::vector<CWebAccess*> Run(int timeoutMs);
    // Makes a Run that waits on another thread return at once.
    void Wakeup();

private:
    void Detach(CWebAccess& session);

    void* m_multi = nullptr; // CURLM*
    void* m_share = nullptr; // CURLSH*
    std::vector<CWebAccess*> m_sessions;
};
