#include "export/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "export/faults.h"

std::string temporaryPathFor(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(static_cast<long>(getpid())) + ".part";
}

bool publishOutput(const std::string& temporary, const std::string& path, std::string* error) {
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
