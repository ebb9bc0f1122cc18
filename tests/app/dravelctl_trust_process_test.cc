// dravelctl and dravel-host at their edges: whom dravelctl trusts, how long it
// waits, which arguments and files the two programs take, and how the host
// ends on a signal.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "channels/frame.h"
#include "channels/socket_path.h"
#include "channels/standard_codec.h"
#include "tests/channels/socket_test_support.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class ProgramEdges : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  }

  int ctlRun(std::vector<std::string> args, const std::vector<std::string>& environment = {}) {
    args.insert(args.begin(), ctlBinary_);
    return run(args, environment);
  }

  // Runs dravelctl, expecting `status` and `part` in what it writes to stderr.
  void ctlSays(std::vector<std::string> args, int status, const std::string& part,
               const std::vector<std::string>& environment = {}) {
    EXPECT_EQ(ctlRun(std::move(args), environment), status) << err_;
    EXPECT_NE(err_.find(part), std::string::npos) << err_;
  }

  // A folder of the given mode (the umask left out).
  std::string folder(const std::string& name, mode_t mode) {
    std::string path = dir_ + "/" + name;
    EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
};

const passwd* nobodyUser() {
  return ::getpwnam("nobody");
}

TEST_F(ProgramEdges, DravelctlRefusesBadArgumentsWithItsUsage) {
  const std::string none = dir_ + "/none.sock";
  const std::vector<std::vector<std::string>> bad = {
      {"--timeout", "inf", "call", "a", "b"},
      {"--timeout", "0", "call", "a", "b"},
      {"screenshot", "--display", "4294967296", "-o", dir_ + "/shot.png"},
      {"call", "", "state"},
      {"call", std::string(kMaxChannelNameSize + 1, 'c'), "state"},
      {"call", "sim/desktop", ""},
      {"screenshot", "--compression", "huge", "-o", "x.png"},
  };
  for (std::vector<std::string> args : bad) {
    args.insert(args.begin(), {"--socket", none});
    EXPECT_EQ(ctlRun(args), 2) << args[2] << " " << args[3] << "\n" << err_;
    EXPECT_NE(err_.find("usage: dravelctl"), std::string::npos) << err_;
  }
  // The bounds themselves are taken: they get as far as the missing host.
  EXPECT_EQ(ctlRun({"--socket", none, "--timeout", "0.5", "call",
                    std::string(kMaxChannelNameSize, 'c'), "state"}),
            3)
      << err_;
  EXPECT_EQ(ctlRun({"--socket", none, "screenshot", "--display", "4294967295", "-o", "x.png"}), 3)
      << err_;
  // A target refused is refused before any host is looked for.
  ctlSays({"--socket", none, "screenshot", "-o", dir_}, 2, "is a folder");
}

TEST_F(ProgramEdges, FilesThatCannotBeReadAreRefusedWithStatus2) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = dir_ + "/large.json";
  {
    std::ofstream(large) << "{}";
    // Sparse: a size above the cap costs no disk.
    ASSERT_EQ(::truncate(large.c_str(), (off_t{64} << 20) + 1), 0);
  }
  // Raw bytes read for {"$file": PATH} may be as large as a frame.
  const std::string huge = dir_ + "/huge.bin";
  {
    std::ofstream(huge) << "x";
    ASSERT_EQ(::truncate(huge.c_str(), (off_t{256} << 20) + 1), 0);
  }
  const std::string folderPath = folder("folder", 0700);
  const std::vector<std::pair<std::string, std::string>> files = {
      {folderPath, "it is a folder"},
      {"/dev/zero", "not a regular file"},
      {fifo, "not a regular file"},
      {large, "larger than"},
      {dir_ + "/missing.json", "No such file"},
  };
  for (const auto& [path, why] : files) {
    ctlSays({"--socket", dir_ + "/none.sock", "call", "sim/desktop", "load", "@" + path}, 2,
            "cannot read " + path + ": " + why);
    const std::string bytesPath = path == large ? huge : path;
    const std::string marker = R"({"bytes": {"$file": ")" + bytesPath + R"("}})";
    ctlSays({"--socket", dir_ + "/none.sock", "call", "a", "b", marker}, 2,
            "cannot read " + bytesPath + ": " + why);

    EXPECT_EQ(run(hostArgs({"--scenario", path})), 2) << path;
    EXPECT_NE(err_.find("cannot read " + path + ": " + why), std::string::npos) << err_;
    EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "the host served anyway";
  }
}

TEST_F(ProgramEdges, TimeoutsCoverConnectingAndSending) {
  // A host whose backlog is full: connecting waits for room that never comes.
  const std::string full = dir_ + "/full.sock";
  int listenFd = boundSocket(full, 0);
  const std::vector<int> waiting = fillBacklog(full);
  ctlSays({"--socket", full, "--timeout", "0.5", "call", "a", "b"}, 3,
          "timed out connecting to " + full);
  for (int fd : waiting) ::close(fd);
  ::close(listenFd);

  // A host that takes the connection but never reads: the call cannot even
  // be sent, and the timeout covers that too.
  const std::string deaf = dir_ + "/deaf.sock";
  listenFd = boundSocket(deaf, 4);
  const std::string bytes = dir_ + "/bytes.bin";
  std::ofstream(bytes) << std::string(16 << 20, 'x');
  ctlSays(
      {"--socket", deaf, "--timeout", "0.5", "call", "a", "b", R"({"$file": ")" + bytes + R"("})"},
      3, "timed out sending");
  // A small call is sent, and its reply never comes.
  ctlSays({"--socket", deaf, "--timeout", "0.5", "call", "a", "b"}, 3,
          "timed out waiting for the reply");
  ::close(listenFd);
}

TEST_F(ProgramEdges, DravelctlRefusesSocketFoldersOthersControl) {
  // The default socket lies under XDG_RUNTIME_DIR, or under the temporary
  // folder without it.
  const std::string xdg = folder("xdg", 0700);
  const std::vector<std::string> underXdg = {"XDG_RUNTIME_DIR=" + xdg};
  const std::string tmp = folder("tmp", 0700);
  const std::string own = "dravel-" + std::to_string(::geteuid());
  const std::vector<std::string> underTmp = {"XDG_RUNTIME_DIR", "TMPDIR=" + tmp};

  // A private folder of our own with nothing in it: no host, not a refusal.
  folder("xdg/dravel", 0700);
  EXPECT_EQ(ctlRun({"call", "a", "b"}, underXdg), 3) << err_;

  ASSERT_EQ(::chmod((xdg + "/dravel").c_str(), 0777), 0);
  ctlSays({"call", "a", "b"}, 4, "refusing socket folder " + xdg + "/dravel", underXdg);

  folder("tmp/" + own, 0777);
  ctlSays({"call", "a", "b"}, 4, "mode 0777", underTmp);
  ::rmdir((tmp + "/" + own).c_str());

  // A link, even to a private folder of our own.
  folder("elsewhere", 0700);
  ASSERT_EQ(::symlink((dir_ + "/elsewhere").c_str(), (tmp + "/" + own).c_str()), 0);
  ctlSays({"call", "a", "b"}, 4, "is a symbolic link", underTmp);

  // A path given with --socket may lie in a shared sticky folder, not in one
  // anybody may change.
  folder("open", 0777);
  EXPECT_EQ(ctlRun({"--socket", dir_ + "/open/host.sock", "call", "a", "b"}), 4) << err_;
  ASSERT_EQ(::chmod((dir_ + "/open").c_str(), 01777), 0);
  EXPECT_EQ(ctlRun({"--socket", dir_ + "/open/host.sock", "call", "a", "b"}), 3) << err_;

  if (::geteuid() != 0) return;
  const passwd* nobody = nobodyUser();
  if (!nobody) return;
  const std::string theirs = folder("xdg/dravel-theirs", 0700);
  ASSERT_EQ(::rmdir((xdg + "/dravel").c_str()), 0);
  ASSERT_EQ(::rename(theirs.c_str(), (xdg + "/dravel").c_str()), 0);
  ASSERT_EQ(::chown((xdg + "/dravel").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ctlSays({"call", "a", "b"}, 4, "belongs to uid " + std::to_string(nobody->pw_uid), underXdg);

  // A socket of another user in a folder of ours.
  const int fd = boundSocket(dir_ + "/planted.sock", 4);
  ASSERT_EQ(::chown((dir_ + "/planted.sock").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ctlSays({"--socket", dir_ + "/planted.sock", "call", "a", "b"}, 4,
          "refusing socket " + dir_ + "/planted.sock");
  ::close(fd);
}

TEST_F(ProgramEdges, DravelctlFindsASandboxedHostInTheFolderFlatpakShares) {
  // Flatpak makes $XDG_RUNTIME_DIR/app/APP_ID and shares it with the session.
  const std::string xdg = folder("xdg", 0700);
  folder("xdg/app", 0700);
  const std::string shared = xdg + "/app/app.dravel.Dravel/host.sock";
  const std::string plain = xdg + "/dravel/host.sock";
  const std::vector<std::string> session = {"XDG_RUNTIME_DIR=" + xdg};
  StoppedAtExit host{spawn({hostBinary_, "--platform", "sim"}, dir_ + "/sandboxed.out",
                           dir_ + "/sandboxed.err", {session[0], "FLATPAK_ID=app.dravel.Dravel"})};
  ASSERT_TRUE(waitUntil([&] { return someoneListensAt(shared); }))
      << readFile(dir_ + "/sandboxed.err");
  EXPECT_EQ(ctlRun({"call", "sim/desktop", "state"}, session), 0) << err_;

  // A host at the default socket too is taken, and said so (this listener
  // never answers); once it is gone, its stale socket is passed over.
  folder("xdg/dravel", 0700);
  const int fd = boundSocket(plain, 4);
  ctlSays({"--timeout", "0.5", "call", "sim/desktop", "state"}, 3,
          "hosts serve both " + plain + " and " + shared, session);
  ::close(fd);
  EXPECT_EQ(ctlRun({"call", "sim/desktop", "state"}, session), 0) << err_;
}

TEST_F(ProgramEdges, DravelctlSendsNothingToAListenerOfAnotherUser) {
  ASSERT_EQ(::geteuid(), 0u) << "acting as another user needs root, as the test desktops do";
  const passwd* nobody = nobodyUser();
  ASSERT_NE(nobody, nullptr) << "no user nobody";
  // Everything about the socket is ours but the process listening on it: it
  // binds as us, then becomes the other user before it listens, and answers
  // any call with a fake one-pixel screenshot.
  const std::string xdg = folder("xdg", 0700);
  folder("xdg/dravel", 0700);
  const std::string path = xdg + "/dravel/host.sock";
  const std::vector<uint8_t> fake =
      frameMessage(FrameKind::kReply, 1, "",
                   StandardMethodCodec::encodeSuccessEnvelope(
                       ValueMap{{"width", 1}, {"height", 1}, {"bytes", ByteBuffer{1, 2, 3, 255}}}))
          .flatten();
  const int fd = boundSocket(path);
  const uid_t otherUid = nobody->pw_uid;
  const gid_t otherGid = nobody->pw_gid;
  pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);
    if (::setgid(otherGid) != 0 || ::setuid(otherUid) != 0 || ::listen(fd, 4) != 0) ::_exit(10);
    int connection = ::accept(fd, nullptr, nullptr);
    if (connection < 0) ::_exit(11);
    char buffer[4096];
    ssize_t n = ::read(connection, buffer, sizeof buffer);
    if (n <= 0) ::_exit(0);  // nothing was sent
    [[maybe_unused]] ssize_t w = ::write(connection, fake.data(), fake.size());
    ::_exit(1);
  }
  ::close(fd);
  const std::string shot = dir_ + "/shot.png";
  ctlSays({"screenshot", "-o", shot}, 4, "refusing the host at " + path,
          {"XDG_RUNTIME_DIR=" + xdg});
  EXPECT_NE(::access(shot.c_str(), F_OK), 0) << "the fake screenshot was written";
  EXPECT_EQ(waitFor(child, 30), 0) << "the other user's listener received the call";
}

TEST_F(ProgramEdges, TerminatingSignalsStopTheHostAndRemoveItsSocket) {
  // The host's list of them: its ends, the terminal's and the usual one.
  for (int signal : {SIGHUP, SIGINT, SIGTERM, SIGXFSZ}) {
    start();
    ASSERT_EQ(::kill(pid_, signal), 0);
    const int status = waitFor(pid_, 20);
    if (status < 0) stopHost();
    pid_ = -1;
    EXPECT_EQ(status, 0) << strsignal(signal) << "\n" << hostLog();
    EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << strsignal(signal) << ": socket left behind";
  }
}

}  // namespace
}  // namespace dravel::testing
