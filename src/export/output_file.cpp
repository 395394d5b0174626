// The output rule (see output_file.h). Sections:
//   1. Names: folders, extensions, temporaries
//   2. checkOutput: links followed, the output compared with the inputs
//   3. Writing: createTemporary, claimTemporary, writeOutput, publishOutput, discardOutput

#include "export/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "export/faults.h"

namespace {

// ---- 1. Names ----

// Longest chain of symbolic links followed, as the kernel's own limit for one lookup.
constexpr int kMostLinks = 40;

// Extensions that name a score: an output called so is a score about to be overwritten.
constexpr const char* kScoreExtensions[] = {".xml", ".musicxml", ".mxl", ".mid", ".midi"};

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// ---- 2. checkOutput ----

// `path` with every symbolic link at its end followed; a link to a file that does not exist
// yet gives that file's name. false with errno set when a link cannot be read or the chain is
// too long.
bool followLinks(const std::string& path, std::string* target) {
    std::string current = path;
    for (int i = 0; i <= kMostLinks; ++i) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                *target = current;  // a new file, or a link to one
                return true;
            }
            return false;
        }
        if (!S_ISLNK(info.st_mode)) {
            *target = current;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), link, sizeof link - 1);
        if (length < 0) {
            return false;
        }
        link[length] = '\0';
        current = link[0] == '/' ? std::string(link) : folderOf(current) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

bool refuse(const std::string& reason, std::string* error) {
    *error = reason;
    return false;
}

// ---- 3. Writing ----

// The temporary being written by writeOutput, for the signal handler; empty otherwise.
char pendingTemporary[PATH_MAX + 32];

void onSignalWhileWriting(int signal) {
    discardOutput(pendingTemporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// SIGINT and SIGTERM remove the temporary of writeOutput and then end the process as they
// would have; the previous handlers come back afterwards.
struct RemoveOnSignal {
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    explicit RemoveOnSignal(const std::string& temporary) {
        const size_t length = std::min(temporary.size(), sizeof pendingTemporary - 1);
        std::memcpy(pendingTemporary, temporary.data(), length);
        pendingTemporary[length] = '\0';
        struct sigaction action {};
        action.sa_handler = onSignalWhileWriting;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previousInt);
        sigaction(SIGTERM, &action, &previousTerm);
    }
    ~RemoveOnSignal() {
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
        pendingTemporary[0] = '\0';
    }
};

// Writes all of `bytes` to `fd`; errno says why not.
bool writeAll(int fd, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        if (exportCallFails()) {
            errno = ENOSPC;
            return false;
        }
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool checkOutput(const std::string& output, const std::vector<std::string>& inputs,
                 OutputTarget* target, std::string* error) {
    if (output.empty()) {
        *error = "no output file was named";
        return false;
    }
    std::string path;
    if (!followLinks(output, &path)) {
        return refuse(systemReason(errno), error);
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return refuse("it is a folder; name a file in it", error);
        }
        if (!S_ISREG(info.st_mode)) {
            return refuse("it exists and is not a regular file (a device, a pipe or a socket)",
                          error);
        }
        for (const std::string& input : inputs) {
            struct stat read {};
            if (!input.empty() && stat(input.c_str(), &read) == 0 && read.st_dev == info.st_dev &&
                read.st_ino == info.st_ino) {
                return refuse("it is the input " + input + "; name another file", error);
            }
        }
    } else if (errno != ENOENT) {
        return refuse(systemReason(errno), error);
    } else if (output.back() == '/') {
        return refuse("it names a folder; name a file", error);
    }
    target->shown = output;
    target->path = path;
    target->temporary = temporaryPathFor(path);
    return true;
}

bool checkNotScoreName(const std::string& output, const std::string& option,
                       const std::string& writes, std::string* error,
                       const std::vector<std::string>& own) {
    const std::string name = lowerCase(output);
    for (const char* extension : kScoreExtensions) {
        const bool isOwn = std::find(own.begin(), own.end(), extension) != own.end();
        if (!isOwn && endsWith(name, extension)) {
            *error = std::string("the name is a score's (") + extension + "); " + option +
                     " writes " + writes;
            return false;
        }
    }
    return true;
}

int createTemporary(const std::string& temporary, std::string* error) {
    int fd = -1;
    if (exportCallFails()) {
        errno = EACCES;
    } else {
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        *error = errno == EEXIST ? "something is already there under its temporary name " +
                                       temporary + ", left as it is"
                                 : systemReason(errno);
    }
    return fd;
}

bool claimTemporary(const std::string& temporary, std::string* error) {
    const int fd = createTemporary(temporary, error);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

bool canWriteOutput(const OutputTarget& target, std::string* error) {
    if (!claimTemporary(target.temporary, error)) {
        return false;
    }
    discardOutput(target.temporary.c_str());
    return true;
}

bool writeOutput(const OutputTarget& target, const std::string& bytes, std::string* error) {
    RemoveOnSignal guard(target.temporary);
    const int fd = createTemporary(target.temporary, error);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, bytes);
    int failed = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        failed = errno;
    }
    if (!ok) {
        discardOutput(target.temporary.c_str());
        *error = systemReason(failed);
        return false;
    }
    return publishOutput(target.temporary, target.path, error);
}

std::string temporaryPathFor(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(static_cast<long>(getpid())) + ".part";
}

bool publishOutput(const std::string& temporary, const std::string& path, std::string* error) {
    // The new file takes the permissions of the one it replaces: replacing a document keeps
    // who may read it.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        chmod(temporary.c_str(), old.st_mode & 07777);
    }
    if (exportCallFails()) {
        errno = EIO;
    } else if (std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    *error = systemReason(errno);
    discardOutput(temporary.c_str());
    return false;
}

void discardOutput(const char* temporary) {
    if (temporary != nullptr && temporary[0] != '\0') {
        unlink(temporary);
    }
}

std::string systemReason(int error) {
    return std::strerror(error);
}
