/* Someone at another thread who acts while the test's own thread waits in
   the code under test: types a key once the wait has paused a few times,
   or gives a wake-up a moment after the pause began.  The action runs once
   its moment has come, or at the latest when the patience runs out, so
   that a wait that never comes fails a check instead of hanging; join()
   (or the end of the scope) lets it act at once if it has not yet, and
   waits for it. */
#ifndef VOLTANIS_TEST_TYPIST_H
#define VOLTANIS_TEST_TYPIST_H

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class Typist {
public:
    /* acts once ready() says so */
    Typist(std::function<bool()> ready, std::function<void()> act,
        std::chrono::milliseconds patience = std::chrono::seconds(2))
        : thread_([this, ready, act, patience] {
              auto until = std::chrono::steady_clock::now() + patience;
              while (!ready() && !done_ && std::chrono::steady_clock::now() < until)
                  std::this_thread::yield();
              act();
          })
    {}

    /* acts after a delay */
    Typist(std::chrono::milliseconds delay, std::function<void()> act)
        : thread_([delay, act] {
              std::this_thread::sleep_for(delay);
              act();
          })
    {}

    Typist(const Typist &) = delete;
    Typist &operator=(const Typist &) = delete;

    ~Typist() { join(); }

    void join()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

#endif
