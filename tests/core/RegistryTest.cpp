#include "core/Registry.h"
#include "support/FileSizeLimit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "TempFolder.h"
#include "core/Exception.h"
#include "core/FileUtils.h"

using namespace vmk;

namespace {

const char* const kKey = "\\Software\\Quorvex\\VMK";

class RegistryTest : public testing::Test {
protected:
    TempFolder temp;
    std::string store = temp.Path("config/vellumark/registry.reg");

    std::unique_ptr<TRegistry> Open(bool create = false) {
        auto reg = std::make_unique<TRegistry>(store);
        reg->SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(reg->OpenKey(kKey, create));
        return reg;
    }
    void Store(const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(store).parent_path());
        WriteWholeFile(store, text);
    }
    bool TempFilesLeft() const {
        for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(store).parent_path()))
            if (e.path().filename() != "registry.reg") return true;
        return false;
    }
};

}  // namespace

TEST_F(RegistryTest, MissingStoreHasNoKeyAndCreateMakesIt) {
    TRegistry reg(store);
    EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.GetRootKey(), 0x80000002u);
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(std::filesystem::exists(store));

    ASSERT_TRUE(reg.OpenKey(kKey, true));
    EXPECT_EQ(reg.GetCurrentPath(), "Software\\Quorvex\\VMK");
    reg.CloseKey();
    EXPECT_FALSE(reg.HasCurrentKey());
    // A key without values still exists: its section line is enough.
    EXPECT_EQ(ReadWholeFile(store), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n");
    TRegistry again(store);
    again.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(again.KeyExists(kKey));
    EXPECT_TRUE(again.KeyExists("\\Software\\Quorvex"));  // keys above exist too
    EXPECT_FALSE(again.KeyExists("\\Software\\Quorvex\\VMK\\Below"));
    EXPECT_FALSE(again.KeyExists("\\Software\\Quorv"));
    again.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_FALSE(again.KeyExists(kKey));  // another root
    again.SetRootKey(0x12345678u);
    EXPECT_FALSE(again.KeyExists(kKey));
    EXPECT_FALSE(again.OpenKey(kKey, true));
}

TEST_F(RegistryTest, ValuesRoundTripExactly) {
    const std::string awkward = "C:\\dir \"quoted\"\nsecond line\r\ttab \x01 Grüße";
    {
        auto reg = Open(true);
        reg->WriteString("CoverFile", awkward);
        reg->WriteString("FileFix", "");
        reg->WriteInteger("CoverLeft", -1);
        reg->WriteInteger("CoverTop", INT_MIN);
        reg->WriteInteger("JPGQ", INT_MAX);
        reg->WriteInteger("TransColor", static_cast<int32_t>(0x80FF00FFu));
        reg->WriteBool("Transparent", false);
        reg->WriteBool("AutoTrans", true);
        reg->WriteInteger("PosType", 10);
        reg->WriteString("PosType", "replaced by a text");  // a write replaces the type too
        reg->CloseKey();
    }
    auto reg = Open();
    EXPECT_EQ(reg->ReadString("CoverFile"), awkward);
    EXPECT_EQ(reg->ReadString("FileFix"), "");
    EXPECT_TRUE(reg->ValueExists("FileFix"));
    EXPECT_EQ(reg->ReadInteger("CoverLeft"), -1);
    EXPECT_EQ(reg->ReadInteger("CoverTop"), INT_MIN);
    EXPECT_EQ(reg->ReadInteger("JPGQ"), INT_MAX);
    EXPECT_EQ(static_cast<uint32_t>(reg->ReadInteger("TransColor")), 0x80FF00FFu);
    EXPECT_FALSE(reg->ReadBool("Transparent"));
    EXPECT_TRUE(reg->ReadBool("AutoTrans"));
    EXPECT_EQ(reg->ReadString("PosType"), "replaced by a text");

    const std::string text = ReadWholeFile(store);
    EXPECT_NE(text.find("\"CoverLeft\"=dword:ffffffff\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"CoverTop\"=dword:80000000\n"), std::string::npos);
    EXPECT_NE(text.find("\"AutoTrans\"=dword:00000001\n"), std::string::npos);
    EXPECT_NE(text.find("\"CoverFile\"=\"C:\\\\dir \\\"quoted\\\"\\nsecond line\\r\\ttab \\x01 Grüße\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("PosType\"=dword"), std::string::npos);  // replaced in place, not doubled
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(RegistryTest, ReadsFailOnMissingOrWrongType) {
    Store(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n"
        "\"Text\"=\"7\"\n\"Number\"=dword:00000002\n\"Binary\"=hex:01,02\n");
    auto reg = Open();
    EXPECT_EQ(reg->ReadString("Missing"), "");  // a missing text is empty, not a failure
    EXPECT_THROW(reg->ReadInteger("Missing"), ERegistryException);
    EXPECT_THROW(reg->ReadBool("Missing"), ERegistryException);
    EXPECT_THROW(reg->ReadString("Number"), ERegistryException);
    EXPECT_THROW(reg->ReadInteger("Text"), ERegistryException);
    EXPECT_THROW(reg->ReadBool("Text"), ERegistryException);
    EXPECT_THROW(reg->ReadString("Binary"), ERegistryException);
    EXPECT_THROW(reg->ReadInteger("Binary"), ERegistryException);
    EXPECT_TRUE(reg->ReadBool("Number"));  // any non-zero number is on
    try {
        reg->ReadInteger("Text");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Invalid data type for 'Text'");
    }
    // Names compare without regard to case, as keys do.
    EXPECT_EQ(reg->ReadString("TEXT"), "7");
    reg->CloseKey();

    // With no key open every value is missing and nothing can be written.
    EXPECT_EQ(reg->ReadString("Text"), "");
    EXPECT_THROW(reg->ReadInteger("Number"), ERegistryException);
    EXPECT_THROW(reg->WriteString("Text", "x"), ERegistryException);
}

TEST_F(RegistryTest, SavingKeepsTheRestOfTheFile) {
    const std::string before =
        "REGEDIT4\n"
        "; a comment someone wrote\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"Keep\"=\"me\"\n"
        "\"Odd\"=hex(2):41,00,\\\n"
        "  00,00\n"
        "\n"
        "[hkey_local_machine\\software\\quorvex\\vmk]\n"
        "\"jpgq\"=dword:00000055\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\n"
        "\"Z\"=dword:00000001\n";
    Store(before);
    auto reg = Open();
    reg->WriteInteger("JPGQ", 50);
    reg->WriteString("FileFix", "VMK_");
    reg->CloseKey();
    EXPECT_EQ(ReadWholeFile(store),
              "REGEDIT4\n"
              "; a comment someone wrote\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Keep\"=\"me\"\n"
              "\"Odd\"=hex(2):41,00,\\\n"
              "  00,00\n"
              "\n"
              "[hkey_local_machine\\software\\quorvex\\vmk]\n"
              "\"JPGQ\"=dword:00000032\n"
              "\"FileFix\"=\"VMK_\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\n"
              "\"Z\"=dword:00000001\n");
}

TEST_F(RegistryTest, AnotherProgramsSaveInBetweenSurvives) {
    auto mine = Open(true);
    {
        TRegistry other(store);
        other.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(other.OpenKey("\\Software\\Someone", true));
        other.WriteString("Name", "theirs");
    }
    mine->WriteString("CoverFile", "mine");
    TRegistry check(store);
    check.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(check.OpenKey("\\Software\\Someone", false));
    EXPECT_EQ(check.ReadString("Name"), "theirs");
    // A relative path opens below the open key; an absolute one from the root.
    ASSERT_TRUE(check.OpenKey("Deeper", true));
    EXPECT_EQ(check.GetCurrentPath(), "Software\\Someone\\Deeper");
    ASSERT_TRUE(check.OpenKey(kKey, false));
    EXPECT_EQ(check.ReadString("CoverFile"), "mine");
}

TEST_F(RegistryTest, DamagedFileReadsWhatParses) {
    std::string damaged =
        "REGEDIT4\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\r\n"
        "\"CoverFile\"=\"/pics/logo.bmp\"\r\n"
        "\"FileFix\"=\"no end quote\n"
        "\"SavePath\"=\"bad \\q escape\"\n"
        "\"PosType\"=dword:123456789\n"
        "\"Type\"=dword:\n"
        "\"FixType\"=dword:1 trailing\n"
        "\"CoverLeft\"=\"-5\"junk\n"
        "\"Transparent\" dword:1\n"
        "\"\n"
        "[\n"
        "[]\n"
        "\"AutoTrans\"=dword:00000000\n";
    damaged += std::string("\0\xff\xfe\x80garbage\"=\"\n", 15);
    damaged += "\"JPGQ\"=dword:0000001E\n";
    Store(damaged);
    auto reg = Open();
    EXPECT_EQ(reg->ReadString("CoverFile"), "/pics/logo.bmp");
    EXPECT_FALSE(reg->ValueExists("FileFix"));
    EXPECT_FALSE(reg->ValueExists("SavePath"));
    EXPECT_FALSE(reg->ValueExists("PosType"));
    EXPECT_FALSE(reg->ValueExists("Type"));
    EXPECT_FALSE(reg->ValueExists("FixType"));
    EXPECT_FALSE(reg->ValueExists("CoverLeft"));
    EXPECT_FALSE(reg->ValueExists("Transparent"));
    EXPECT_FALSE(reg->ReadBool("AutoTrans"));
    EXPECT_EQ(reg->ReadInteger("JPGQ"), 30);
    // Writing keeps the damaged lines as they were.
    reg->WriteString("FileFix", "ok");
    const std::string after = ReadWholeFile(store);
    EXPECT_NE(after.find("\"SavePath\"=\"bad \\q escape\"\n"), std::string::npos);
    EXPECT_NE(after.find(std::string("\0\xff\xfe\x80garbage", 11)), std::string::npos);
    EXPECT_EQ(reg->ReadString("FileFix"), "ok");
}

TEST_F(RegistryTest, ForeignFilesNeverBreakTheLoad) {
    TRegistry reg(store);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    const std::string foreign[] = {std::string("\xff\xfeW\0i\0n\0", 8),  // UTF-16, as regedit writes today
                                   std::string(100000, '['), std::string(),
                                   "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:7\n"};
    for (const auto& text : foreign) {
        Store(text);
        const bool ours = &text == &foreign[3];
        ASSERT_EQ(reg.KeyExists(kKey), ours);
        if (ours) {
            ASSERT_TRUE(reg.OpenKey(kKey, false));
            EXPECT_EQ(reg.ReadInteger("A"), 7);  // read past its byte-order mark
        }
    }
}

TEST_F(RegistryTest, StoreThatIsNoFileIsNeitherReadNorReplaced) {
    std::filesystem::create_directories(store);  // a folder in the file's place
    TRegistry reg(store);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_FALSE(reg.OpenKey(kKey, true));
    std::filesystem::remove(store);

    // A pipe would block a plain read forever.
    ASSERT_EQ(mkfifo(store.c_str(), 0600), 0);
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_FALSE(reg.OpenKey(kKey, true));
}

TEST_F(RegistryTest, WriteThatCannotReachTheDiskFailsAndKeepsTheFile) {
    // A file-size limit makes the disk refuse, for root as well.
    const std::string before =
        "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"FileFix\"=\"" + std::string(200, 'x') + "\"\n";
    Store(before);
    auto reg = Open();
    bool failed = false;
    try {
        const FileSizeLimit limit(64);
        reg->WriteInteger("JPGQ", 1);
    } catch (const ERegistryException& e) {
        failed = true;
        EXPECT_EQ(e.Message().rfind("Failed to set data for 'JPGQ'. ", 0), 0u) << e.Message();
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(ReadWholeFile(store), before);
    EXPECT_FALSE(TempFilesLeft());
}

// The child saves over and over and reports each finished save through a pipe;
// it is killed only after some saves are known to be on disk, so the store read
// afterwards must hold one of its own whole values, as new as the last reported.
TEST_F(RegistryTest, KillingTheProgramWhileItSavesKeepsTheStoreWhole) {
    {
        auto reg = Open(true);
        reg->WriteString("CoverFile", "/kept/cover.bmp");
    }
    const auto valueOf = [](int i) { return std::to_string(i) + ":" + std::string(static_cast<size_t>(i % 512), 'x'); };
    for (int round = 0; round < 5; ++round) {
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(done[0]);
            TRegistry reg(store);
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            if (!reg.OpenKey(kKey, false)) _exit(1);
            for (int i = 1;; ++i) {
                reg.WriteString("FileFix", valueOf(i));
                const char saved = 1;
                if (write(done[1], &saved, 1) != 1) _exit(1);
            }
        }
        close(done[1]);
        const int wanted = 1 + round * 3;
        int reported = 0;
        char byte = 0;
        while (reported < wanted && read(done[0], &byte, 1) == 1) ++reported;
        kill(child, SIGKILL);
        close(done[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(reported, wanted) << "the child stopped saving";
        ASSERT_TRUE(WIFSIGNALED(status));
        auto reg = Open();
        EXPECT_EQ(reg->ReadString("CoverFile"), "/kept/cover.bmp");
        ASSERT_TRUE(reg->ValueExists("FileFix"));
        const std::string fix = reg->ReadString("FileFix");
        const int saved = std::atoi(fix.c_str());
        EXPECT_GE(saved, wanted) << fix;
        EXPECT_EQ(fix, valueOf(saved));
    }
}

TEST(RegistryStorePath, FollowsTheEnvironment) {
    const auto restore = [](const char* name, const char* old) {
        if (old)
            setenv(name, old, 1);
        else
            unsetenv(name);
    };
    const char* oldOwn = std::getenv("VELLUMARK_REGISTRY");
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string keepOwn = oldOwn ? oldOwn : "", keepXdg = oldXdg ? oldXdg : "", keepHome = oldHome ? oldHome : "";

    setenv("VELLUMARK_REGISTRY", "/tmp/own.reg", 1);
    EXPECT_EQ(TRegistry().StorePath(), "/tmp/own.reg");
    unsetenv("VELLUMARK_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/xdg/conf/", 1);
    EXPECT_EQ(TRegistry::DefaultStorePath(), "/xdg/conf/vellumark/registry.reg");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored, as XDG asks
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(TRegistry::DefaultStorePath(), "/home/someone/.config/vellumark/registry.reg");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TRegistry::DefaultStorePath(), "/home/someone/.config/vellumark/registry.reg");
    // A relative or empty HOME means nothing to a program started anywhere: the
    // account's own home folder serves, as for every other use of home.
    for (const char* home : {"relative/home", ""}) {
        setenv("HOME", home, 1);
        const std::string path = TRegistry::DefaultStorePath();
        EXPECT_EQ(path, UserHomeFolder() + ".config/vellumark/registry.reg");
        EXPECT_EQ(path.front(), '/') << path;
    }

    restore("VELLUMARK_REGISTRY", oldOwn ? keepOwn.c_str() : nullptr);
    restore("XDG_CONFIG_HOME", oldXdg ? keepXdg.c_str() : nullptr);
    restore("HOME", oldHome ? keepHome.c_str() : nullptr);
}

TEST_F(RegistryTest, AStoreKeptAsALinkStaysALink) {
    const std::string real = temp.Path("dotfiles/registry.reg");
    std::filesystem::create_directories(temp.Path("dotfiles"));
    WriteWholeFile(real, "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n");
    std::filesystem::create_directories(std::filesystem::path(store).parent_path());
    std::filesystem::create_symlink(real, store);
    auto reg = Open();
    reg->WriteInteger("JPGQ", 9);
    EXPECT_TRUE(std::filesystem::is_symlink(store));
    EXPECT_EQ(ReadWholeFile(real), "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"JPGQ\"=dword:00000009\n");
}

TEST_F(RegistryTest, ADanglingLinkAsTheStoreIsWrittenWhereItPoints) {
    std::filesystem::create_directories(std::filesystem::path(store).parent_path());
    std::filesystem::create_symlink(temp.Path("registry.reg"), store);
    Open(true)->WriteInteger("JPGQ", 9);
    EXPECT_TRUE(std::filesystem::is_symlink(store));
    EXPECT_EQ(Open()->ReadInteger("JPGQ"), 9);
}

// Another writer's lock is waited for, and what it wrote meanwhile survives.
TEST_F(RegistryTest, AWriteHoldsTheStoreLockFromItsReadToItsSave) {
    Store("[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:00000001\n");
    auto reg = Open();
    const int held = open(store.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    reg->SetLockWait(std::chrono::milliseconds(0));
    EXPECT_THROW(reg->WriteInteger("B", 2), ERegistryException);  // one that may not wait gives up

    // One that waits reads the store only once the other writer is done with it.
    reg->SetLockWait(std::chrono::minutes(10));
    std::thread writer([&] { reg->WriteInteger("B", 2); });
    // The other writer saves by replacing the file, as we do.
    WriteWholeFile(store + ".new",
                   "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:00000001\n\"C\"=dword:00000003\n");
    std::filesystem::rename(store + ".new", store);
    close(held);
    writer.join();
    EXPECT_EQ(ReadWholeFile(store),
              "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:00000001\n"
              "\"C\"=dword:00000003\n\"B\"=dword:00000002\n");
}

// A batch reaches the store in one replacement of the file, made under the
// lock, keeping what another program saved meanwhile; reads see it before then;
// a failed or dropped batch stores nothing.
TEST_F(RegistryTest, ABatchIsStoredInOneWrite) {
    Store("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:00000001\n");
    auto reg = Open();
    reg->BeginBatch();
    reg->WriteInteger("B", 2);
    reg->WriteString("C", "three");
    reg->WriteInteger("B", 4);
    EXPECT_EQ(reg->ReadInteger("B"), 4);
    Store(ReadWholeFile(store) + "\"Other\"=\"theirs\"\n");  // another program's save
    EXPECT_EQ(Open()->ValueExists("C"), false);
    reg->CommitBatch();
    EXPECT_EQ(ReadWholeFile(store),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"A\"=dword:00000001\n"
              "\"Other\"=\"theirs\"\n\"B\"=dword:00000004\n\"C\"=\"three\"\n");
    EXPECT_FALSE(TempFilesLeft());

    // A key made in a batch is made with its values.
    auto fresh = std::make_unique<TRegistry>(temp.Path("fresh.reg"));
    fresh->SetRootKey(HKEY_LOCAL_MACHINE);
    fresh->BeginBatch();
    ASSERT_TRUE(fresh->OpenKey(kKey, true));
    EXPECT_TRUE(fresh->KeyExists(kKey));
    EXPECT_EQ(ReadWholeFile(temp.Path("fresh.reg")), "");
    fresh->WriteInteger("JPGQ", 85);
    fresh->CommitBatch();
    EXPECT_EQ(ReadWholeFile(temp.Path("fresh.reg")),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n\"JPGQ\"=dword:00000055\n");

    const std::string kept = ReadWholeFile(store);
    reg->BeginBatch();
    reg->WriteInteger("D", 5);
    {
        const FileSizeLimit limit(16);
        try {
            reg->CommitBatch();
            ADD_FAILURE() << "a write the disk refused passed";
        } catch (const ERegistryException& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Failed to set data for 'D'. ", 0), 0u) << e.what();
        }
    }
    EXPECT_EQ(ReadWholeFile(store), kept);
    reg->BeginBatch();
    reg->WriteInteger("E", 6);
    reg.reset();  // never committed
    EXPECT_EQ(ReadWholeFile(store), kept);
    EXPECT_FALSE(TempFilesLeft());
}
