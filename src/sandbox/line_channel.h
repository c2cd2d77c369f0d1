#pragma once

#include <condition_variable>
#include <deque>
#include <istream>
#include <streambuf>
#include <string>

#include "common/mutex.h"

// An input stream fed line by line from another thread: reads block until a
// line arrives, and end the stream once close() was called and everything
// was read. The sandbox hands it to the program as its console.
class LineChannel : public std::istream {
public:
    LineChannel();

    void push(const std::string& line);
    void close();

private:
    class Buffer : public std::streambuf {
    public:
        void push(const std::string& line);
        void close();

    protected:
        int_type underflow() override;

    private:
        Mutex lock_;
        std::condition_variable ready_;
        std::deque<std::string> lines_ GUARDED_BY(lock_);
        std::string current_;  // the reading thread's; the get area points into it
        bool closed_ GUARDED_BY(lock_) = false;
    };

    Buffer buffer_;
};
