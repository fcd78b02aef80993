// The zr-sim program as scripts use it: started as a child, found through its listening line,
// stopped with a signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "raw_client.hpp"

extern char** environ;

namespace zr::sim {
namespace {

using namespace zr::sim::testing;
using eth::Opcode;
using std::chrono::steady_clock;

constexpr std::chrono::seconds kProgramWait{10};

class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> all{ZR_SIM_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ZR_SIM_BINARY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int number) { ::kill(pid_, number); }

  // The first line of standard output, or nothing when it does not come in time.
  std::optional<std::string> first_line() {
    std::string line;
    auto deadline = steady_clock::now() + kProgramWait;
    char c = 0;
    while (readable(out_, deadline) && ::read(out_, &c, 1) == 1) {
      if (c == '\n') return line;
      line.push_back(c);
    }
    return std::nullopt;
  }

  // Exit status once the program ends (reading what it still prints), or -1 after the wait.
  int wait_exit() {
    auto deadline = steady_clock::now() + kProgramWait;
    drain(out_, out_text_, deadline);
    drain(err_, err_text_, deadline);
    while (steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    return -1;
  }

  const std::string& out_text() const { return out_text_; }
  const std::string& err_text() const { return err_text_; }

 private:
  static bool readable(int fd, steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    return left.count() > 0 && ::poll(&entry, 1, static_cast<int>(left.count())) > 0;
  }
  static void drain(int fd, std::string& into, steady_clock::time_point deadline) {
    char buffer[4096];
    while (readable(fd, deadline)) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return;
      into.append(buffer, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
};

// The port of the exact listening line, 0 for any other line.
std::uint16_t port_from(const std::string& line) {
  const std::string prefix = "zr-sim: listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) return 0;
  std::string digits = line.substr(prefix.size());
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  unsigned long port = std::stoul(digits);
  return port > 65535 ? 0 : static_cast<std::uint16_t>(port);
}

TEST(ZrSimProgram, ServesOnAPrintedPortUntilSigterm) {
  Program program({"--address", "127.0.0.1", "--port", "0", "--rule", "opcode=18 side=1"});
  ASSERT_TRUE(program.started());
  auto line = program.first_line();
  ASSERT_TRUE(line) << "no listening line";
  std::uint16_t port = port_from(*line);
  ASSERT_NE(port, 0) << *line;

  RawClient client;
  ASSERT_TRUE(client.connect(port));
  ASSERT_TRUE(client.send(make_greeting(1)));
  ASSERT_TRUE(client.read_exact(eth::kGreetingAnswerSize));
  auto open = client.exchange(request(Opcode::kOpen));
  ASSERT_TRUE(open);
  ASSERT_EQ(open->payload.size(), eth::kBusInfoReplySize);
  EXPECT_EQ(status_of(open->payload), 0);
  std::string product(open->payload.begin() + eth::kBusInfoIdentityOffset,
                      open->payload.begin() + eth::kBusInfoIdentityOffset + 16);
  EXPECT_EQ(product, "Signal Generator");
  auto info = client.exchange(request(Opcode::kReadBusInfo));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->sides, std::vector<std::string>{"side 1.2.1"});

  // A connected client must not keep the program from stopping.
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0) << program.err_text();
  EXPECT_TRUE(client.closed_by_peer());
}

TEST(ZrSimProgram, SigintStopsItToo) {
  Program program({"--port", "0"});
  ASSERT_TRUE(program.started());
  auto line = program.first_line();
  ASSERT_TRUE(line);
  ASSERT_NE(port_from(*line), 0) << *line;
  program.signal(SIGINT);
  EXPECT_EQ(program.wait_exit(), 0);
}

TEST(ZrSimProgram, FaultPlanFileIsApplied) {
  std::string path = ::testing::TempDir() + "zr_sim_plan_ok.txt";
  std::ofstream(path) << "# refuse every close\nrule opcode=3 status=-9\nclose-after 1\n";
  Program program({"--port", "0", "--fault-plan", path});
  auto line = program.first_line();
  ASSERT_TRUE(line);
  RawClient client;
  ASSERT_TRUE(client.connect(port_from(*line)));
  ASSERT_TRUE(client.send(make_greeting(1)));
  ASSERT_TRUE(client.read_exact(eth::kGreetingAnswerSize));
  auto close = client.exchange(request(Opcode::kClose));
  ASSERT_TRUE(close);
  EXPECT_EQ(status_of(close->payload), -9);
  EXPECT_TRUE(client.closed_by_peer());
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait_exit(), 0);
  std::remove(path.c_str());
}

TEST(ZrSimProgram, BadCommandLinesExitWithOneClearLine) {
  std::string bad_plan = ::testing::TempDir() + "zr_sim_plan_bad.txt";
  std::ofstream(bad_plan) << "rule opcode=5\nrule delay-ms=soon\n";
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, 2, "zr-sim: unknown option '--bogus'"},
      {{"--port"}, 2, "zr-sim: missing value for '--port'"},
      {{"--port", "65536"}, 2, "zr-sim: bad port '65536'"},
      {{"--port", "12ab"}, 2, "zr-sim: bad port '12ab'"},
      {{"--close-after", "x"}, 2, "zr-sim: bad number 'x'"},
      {{"--rule", "opcode=5 bogus"}, 2, "zr-sim: rule 'opcode=5 bogus': unknown rule option 'bogus'"},
      {{"--fault-plan", "/nonexistent/plan"}, 2, "zr-sim: cannot read fault plan '/nonexistent/plan'"},
      {{"--fault-plan", bad_plan}, 2,
       "zr-sim: fault plan '" + bad_plan + "': line 2: bad value in 'delay-ms=soon'"},
      {{"--address", "not-an-address", "--port", "0"}, 1, "zr-sim: cannot listen on not-an-address:0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    Program program(c.args);
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.wait_exit(), c.exit_code);
    EXPECT_EQ(program.err_text().rfind(c.message, 0), 0u) << program.err_text();
    EXPECT_TRUE(program.out_text().empty()) << program.out_text();
  }
  std::remove(bad_plan.c_str());
}

TEST(ZrSimProgram, BusyPortExitsWithStatusOne) {
  Program first({"--port", "0"});
  auto line = first.first_line();
  ASSERT_TRUE(line);
  std::string port = std::to_string(port_from(*line));
  Program second({"--port", port});
  EXPECT_EQ(second.wait_exit(), 1);
  EXPECT_NE(second.err_text().find("cannot listen on 127.0.0.1:" + port), std::string::npos)
      << second.err_text();
}

TEST(ZrSimProgram, HelpDescribesTheOptionsAndExitsZero) {
  Program program({"--help"});
  EXPECT_EQ(program.wait_exit(), 0);
  for (const char* option : {"--address", "--port", "--fault-plan", "--ignore-greeting",
                             "--close-after", "--rule", "reply-length="}) {
    EXPECT_NE(program.out_text().find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace zr::sim
