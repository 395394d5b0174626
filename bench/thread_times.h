#pragma once

// Processor time of this process's threads, grouped by thread name, for the drawing benchmarks:
// the software renderer's raster threads are named by Mesa ("llvmpipe-0", ...), threads started
// by a thread take its name, so the encoder library's workers count with the encoding thread
// that started them. Threads may end before a figure is printed (the encoder's, when the file is
// closed), so a sampler reads /proc every few milliseconds and keeps each thread's last figure.

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class ThreadTimes {
public:
    ThreadTimes() : ticksPerSecond_(static_cast<double>(sysconf(_SC_CLK_TCK))) {}
    ~ThreadTimes() { stop(); }

    void start() {
        sample();
        base_ = latest_;
        running_ = true;
        sampler_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "sampler");
            while (running_) {
                sample();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }

    void stop() {
        if (running_) {
            running_ = false;
            sampler_.join();
            sample();
        }
    }

    // Seconds used since start() by the threads whose name begins with `prefix`, but for the
    // thread `except` (0: none), or by that one thread alone.
    double seconds(const char* prefix, long except = 0) const { return sum(prefix, except, 0); }
    double secondsOf(long tid) const { return sum("", 0, tid); }

private:
    struct Entry {
        std::string name;
        long ticks = 0;
    };

    double sum(const char* prefix, long except, long only) const {
        std::lock_guard<std::mutex> lock(mutex_);
        double total = 0.0;
        for (const auto& [tid, entry] : latest_) {
            if (entry.name.compare(0, std::strlen(prefix), prefix) != 0 || tid == except ||
                (only != 0 && tid != only)) {
                continue;
            }
            const auto before = base_.find(tid);
            const long from = before != base_.end() && before->second.name == entry.name
                                  ? before->second.ticks
                                  : 0;
            total += static_cast<double>(entry.ticks - from) / ticksPerSecond_;
        }
        return total;
    }

    void sample() {
        DIR* tasks = opendir("/proc/self/task");
        if (tasks == nullptr) {
            return;
        }
        std::map<long, Entry> now;
        while (dirent* task = readdir(tasks)) {
            if (task->d_name[0] < '0' || task->d_name[0] > '9') {
                continue;
            }
            const std::string path = std::string("/proc/self/task/") + task->d_name + "/stat";
            FILE* file = std::fopen(path.c_str(), "r");
            if (file == nullptr) {
                continue;
            }
            char text[1024] = {0};
            const size_t got = std::fread(text, 1, sizeof text - 1, file);
            std::fclose(file);
            text[got] = '\0';
            // pid (name) state ... utime stime: the name may hold spaces, so fields count
            // from the last ')'.
            const char* open = std::strchr(text, '(');
            const char* close = std::strrchr(text, ')');
            if (open == nullptr || close == nullptr || close < open) {
                continue;
            }
            Entry entry;
            entry.name.assign(open + 1, close);
            const char* field = close + 2;  // the state
            for (int i = 0; i < 11 && field != nullptr; ++i) {
                field = std::strchr(field, ' ');
                field = field != nullptr ? field + 1 : nullptr;
            }
            if (field == nullptr) {
                continue;
            }
            char* end = nullptr;
            const long user = std::strtol(field, &end, 10);
            const long system = std::strtol(end, nullptr, 10);
            entry.ticks = user + system;
            now[std::atol(task->d_name)] = entry;
        }
        closedir(tasks);
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [tid, entry] : now) {
            latest_[tid] = entry;
        }
    }

    double ticksPerSecond_;
    std::atomic<bool> running_{false};
    std::thread sampler_;
    mutable std::mutex mutex_;
    std::map<long, Entry> base_;
    std::map<long, Entry> latest_;
};
