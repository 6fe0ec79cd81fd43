// Other processes against the catalogue: one killed at random moments while
// it changes the file, and two that append at the same time.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/state.h"
#include "store/profile.h"
#include "store/project_store.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using testing::catalogueBytes;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

std::string token(const std::string& prefix, int t) {
    return prefix + std::to_string(t);
}

// A catalogue in which every project's three values carry the same token and
// every section ends at the same index is one complete version: a removal
// cut short would leave one section shifted against another.
::testing::AssertionResult isOneCompleteVersion(const std::string& bytes) {
    auto doc = profile::Document::parse(bytes);
    const char* sections[] = {"项目名", "项目简介", "项目路径"};
    const char* prefixes[] = {"名", "简", "路"};
    int end = 1;
    while (doc.get("项目名", std::to_string(end)).value_or("") != "没了") {
        if (++end > 10000) return ::testing::AssertionFailure() << "no end marker";
    }
    for (int k = 1; k <= end; ++k) {
        std::string t;
        for (int s = 0; s < 3; ++s) {
            auto v = doc.get(sections[s], std::to_string(k));
            if (!v) return ::testing::AssertionFailure() << "missing key " << k;
            if (k == end) {
                if (*v != "没了") return ::testing::AssertionFailure() << "sections end apart";
                continue;
            }
            if (!v->starts_with(prefixes[s]))
                return ::testing::AssertionFailure() << "foreign value at " << k;
            std::string own = v->substr(std::string(prefixes[s]).size());
            if (s == 0) t = own;
            if (own != t) return ::testing::AssertionFailure() << "project " << k << " torn";
        }
    }
    return ::testing::AssertionSuccess();
}

// The children's side of the two channels to the parent: "ready" tells the
// parent once that a change of the child is in the file, "go" returns when
// the parent closes its end. On POSIX they are the pipes a fork keeps; on
// Windows the child's standard output and input.
#ifdef _WIN32
void tellReady() {
    DWORD put = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "x", 1, &put, nullptr);
}

void awaitGo() {
    char byte;
    DWORD got = 0;
    (void)ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr);
}
#else
int readyChannel = -1;
int goChannel = -1;

void tellReady() {
    (void)!write(readyChannel, "x", 1);
}

void awaitGo() {
    char byte;
    (void)!read(goChannel, &byte, 1);  // returns when the parent closes its end
}
#endif

[[noreturn]] void changeForever(int seed) {
    std::mt19937 random(seed);
    bool told = false;
    for (int t = seed * 100000;; ++t) {
        if (!ProjectStore::scan([](const Text&, std::int32_t) {})) std::_Exit(2);
        const int projects = endIndex - 1;
        StoreResult<> r;
        switch (projects < 3 ? 0 : random() % 3) {
            case 0:
                r = ProjectStore::appendProject(token("名", t), token("简", t), token("路", t));
                break;
            case 1:
                r = ProjectStore::updateProject(int(random() % projects) + 1, token("名", t),
                                                token("简", t), token("路", t));
                break;
            default:
                selectedIndex = int(random() % projects) + 1;
                r = ProjectStore::removeProject();
        }
        if (!r) std::_Exit(3);
        if (!told) {
            tellReady();
            told = true;
        }
    }
}

[[noreturn]] void appendFiveHundred(int child) {
    awaitGo();
    for (int i = 0; i < 500; ++i) {
        int t = (child + 1) * 1000 + i;
        // endIndex is never refreshed here: every append trusts the file.
        if (!ProjectStore::appendProject(token("名", t), token("简", t), token("路", t)))
            std::_Exit(1);
    }
    std::_Exit(0);
}

enum class Role { change, append };

[[noreturn]] void play(Role role, int argument) {
    if (role == Role::change) changeForever(argument);
    appendFiveHundred(argument);
}

// A child process that plays a role on the catalogue in the folder, with its
// ends of the channels it is given. On Windows it is this program started
// again with --store-child, in the folder; on POSIX a fork.
class Child {
  public:
    static constexpr int killed = -1;

#ifdef _WIN32
    struct Channel {
        HANDLE read = nullptr, write = nullptr;
        Channel() {
            // Both ends inheritable at first; the parent's end is made its own.
            SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
            if (!CreatePipe(&read, &write, &inherit, 0)) read = write = nullptr;
        }
        ~Channel() {
            closeRead();
            closeWrite();
        }
        void closeRead() {
            if (read != nullptr) CloseHandle(std::exchange(read, nullptr));
        }
        void closeWrite() {
            if (write != nullptr) CloseHandle(std::exchange(write, nullptr));
        }
        bool ok() const { return read != nullptr; }
        // One byte from the child, or false when it ended without a word.
        bool heard() {
            char byte;
            DWORD got = 0;
            return ReadFile(read, &byte, 1, &got, nullptr) && got == 1;
        }
    };

    Child(const std::filesystem::path& folder, Role role, int argument, Channel* ready,
          Channel* go) {
        if (ready) SetHandleInformation(ready->read, HANDLE_FLAG_INHERIT, 0);
        if (go) SetHandleInformation(go->write, HANDLE_FLAG_INHERIT, 0);
        std::wstring self(32768, L'\0');
        self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
        std::wstring line = L"\"" + self + L"\" --store-child " +
                            (role == Role::change ? L"change " : L"append ") +
                            std::to_wstring(argument);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = go ? go->read : nullptr;
        startup.hStdOutput = ready ? ready->write : nullptr;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        if (CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           folder.c_str(), &startup, &started)) {
            CloseHandle(started.hThread);
            process_ = started.hProcess;
        }
        // The child's ends are the child's alone now.
        if (ready) ready->closeWrite();
    }
    ~Child() {
        if (process_ != nullptr) CloseHandle(process_);
    }
    bool started() const {
        return process_ != nullptr;
    }
    void kill() {
        TerminateProcess(process_, killedExitCode);
    }
    // The child's exit code, or killed.
    int wait() {
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return code == killedExitCode ? killed : int(code);
    }

  private:
    static constexpr UINT killedExitCode = 0x4B4B;
    HANDLE process_ = nullptr;
#else
    struct Channel {
        int read = -1, write = -1;
        Channel() {
            int ends[2];
            if (pipe(ends) == 0) {
                read = ends[0];
                write = ends[1];
            }
        }
        ~Channel() {
            closeRead();
            closeWrite();
        }
        void closeRead() {
            if (read >= 0) close(std::exchange(read, -1));
        }
        void closeWrite() {
            if (write >= 0) close(std::exchange(write, -1));
        }
        bool ok() const { return read >= 0; }
        bool heard() {
            char byte;
            return ::read(read, &byte, 1) == 1;
        }
    };

    Child(const std::filesystem::path&, Role role, int argument, Channel* ready, Channel* go) {
        pid_ = fork();
        if (pid_ == 0) {
            if (ready) {
                ready->closeRead();
                readyChannel = ready->write;
            }
            if (go) {
                go->closeWrite();
                goChannel = go->read;
            }
            play(role, argument);
        }
        if (ready) ready->closeWrite();
    }
    bool started() const {
        return pid_ > 0;
    }
    void kill() {
        ::kill(pid_, SIGKILL);
    }
    int wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -2;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return killed;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
    }

  private:
    pid_t pid_ = -1;
#endif
};

TEST(StoreProcesses, AChangeKilledAtAnyMomentLeavesOneCompleteVersion) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes({{"名1", "简1", "路1"}, {"名2", "简2", "路2"}}));
    std::mt19937 random(20261211);
    int caughtWriting = 0;
    for (int round = 0; round < 200; ++round) {
        Child::Channel ready;
        ASSERT_TRUE(ready.ok());
        Child child(folder.path(), Role::change, round + 1, &ready, nullptr);
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(ready.heard()) << "the child could not change the file";
        // The kill lands at a random moment of the child's stream of changes.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        child.kill();
        const int ended = child.wait();
        ASSERT_EQ(ended, Child::killed) << "child ended by itself, status " << ended;

        ASSERT_TRUE(isOneCompleteVersion(readBytes(folder.catalogue()))) << "round " << round;
        if (!folder.strayFiles().empty()) ++caughtWriting;
        ProjectStore::removeLeftovers();
        ASSERT_EQ(folder.strayFiles(), "") << "round " << round;
    }
    // The kills must also have hit commits in progress, or nothing was shown.
    EXPECT_GT(caughtWriting, 0);
    RecordProperty("killed_while_writing", caughtWriting);
}

TEST(StoreProcesses, TwoProcessesAppendingAtOnceLoseNothing) {
    TempFolder folder;
    ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
    std::vector<std::unique_ptr<Child>> children;
    {
        Child::Channel go;
        ASSERT_TRUE(go.ok());
        for (int c = 0; c < 2; ++c) {
            children.push_back(
                std::make_unique<Child>(folder.path(), Role::append, c, nullptr, &go));
            ASSERT_TRUE(children.back()->started());
        }
    }  // closing the parent's ends lets both children go
    for (auto& child : children) EXPECT_EQ(child->wait(), 0);
    auto projects = testing::listed();
    EXPECT_EQ(projects.size(), 1000u);
    std::set<std::string> names;
    for (const auto& p : projects) names.insert(p.name);
    EXPECT_EQ(names.size(), 1000u);
    EXPECT_TRUE(isOneCompleteVersion(readBytes(folder.catalogue())));
}

}  // namespace
}  // namespace quillory

// A child started by the tests plays its role instead of running them.
int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc == 4 && std::string_view(argv[1]) == "--store-child") {
        quillory::runDirectory = std::filesystem::current_path();
        quillory::play(
            std::string_view(argv[2]) == "change" ? quillory::Role::change : quillory::Role::append,
            std::atoi(argv[3]));
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
