#pragma once

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The suites run as root, whom file permissions do not bind. AsNobody runs `body`
// in a child process as the user "nobody" (as the test's own user when that is not
// root already); the child hands back what went wrong as text, "" when all went
// as expected. std::nullopt when there is no user "nobody" to become.
inline std::optional<std::string> AsNobody(const std::function<std::string()>& body) {
    const passwd* pw = getpwnam("nobody");
    if (geteuid() == 0 && !pw) return std::nullopt;
    const uid_t uid = pw ? pw->pw_uid : 0;
    const gid_t gid = pw ? pw->pw_gid : 0;
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        close(fds[0]);
        std::string out;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
            out = "cannot become nobody";
        } else {
            try {
                out = body();
            } catch (const std::exception& e) {
                out = std::string("threw: ") + e.what();
            }
        }
        for (size_t done = 0; done < out.size();) {
            const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the child died: " + out;
    return out;
}

// A folder that "nobody" owns, inside a test's temporary folder (which it may
// then pass through, but not list).
inline std::string NobodysFolder(const std::string& parent, const std::string& name) {
    const std::string folder = parent + name;
    std::filesystem::create_directories(folder);
    if (const passwd* pw = getpwnam("nobody"); pw && geteuid() == 0) {
        if (chown(folder.c_str(), pw->pw_uid, pw->pw_gid) == 0) chmod(parent.c_str(), 0711);
    }
    return folder + "/";
}

// A file of the given bytes that "nobody" owns.
inline void NobodysFile(const std::string& path, const std::string& data, mode_t mode) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    if (const passwd* pw = getpwnam("nobody"); pw && geteuid() == 0) {
        [[maybe_unused]] const int ignored = chown(path.c_str(), pw->pw_uid, pw->pw_gid);
    }
    chmod(path.c_str(), mode);
}
