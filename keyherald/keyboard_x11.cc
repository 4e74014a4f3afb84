// The keyboard platform on Linux: XInput2 raw key events, a timerfd and a signalfd under one
// poll().
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <memory>
#include <vector>

#include "common/note.h"
#include "keyherald/keyboard_platform.h"
#include "keyherald/raw_keys.h"

namespace {

constexpr const char* CONNECTION_LOST_LINE =
    "X display connection lost \xE2\x80\x94 keyherald ends";
// X key codes are evdev codes shifted by 8.
constexpr int X_KEYCODE_OFFSET = 8;

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// The generic-event payload Xlib allocates for an XInput2 event, freed when the scope ends.
class EventData {
 public:
  EventData(Display* display, XGenericEventCookie* cookie)
      : display_(display), cookie_(cookie), ok_(XGetEventData(display, cookie)) {}
  ~EventData() {
    if (ok_) XFreeEventData(display_, cookie_);
  }
  EventData(const EventData&) = delete;
  EventData& operator=(const EventData&) = delete;
  const XIRawEvent* raw() const { return ok_ ? static_cast<XIRawEvent*>(cookie_->data) : nullptr; }

 private:
  Display* display_;
  XGenericEventCookie* cookie_;
  bool ok_;
};

// libxcb writes a server's refusal ("Authorization required, but no authorization protocol
// specified") and a line feed straight to file descriptor 2, with no switch to turn it off. The
// refusal comes back at every one-second retry, so while a connection is set up standard error
// is a pipe that nobody reads: the host reads one waiting line, not the same words forever. The
// server's reason is at most 255 bytes, far below what a pipe holds, so the write never blocks;
// and no file is opened for it.
class QuietStderr {
 public:
  QuietStderr() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    int ends[2];
    if (saved_.get() < 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    read_ = UniqueFd(ends[0]);
    UniqueFd write(ends[1]);
    ::dup2(write.get(), STDERR_FILENO);
  }
  ~QuietStderr() {
    if (read_.get() >= 0) ::dup2(saved_.get(), STDERR_FILENO);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  UniqueFd saved_;
  UniqueFd read_;
};

DisplayPtr openQuietly() {
  QuietStderr quiet;
  return DisplayPtr(XOpenDisplay(nullptr));
}

// Xlib's default handlers print and exit(1). Protocol errors are not fatal to us, and a lost
// connection is reported through the display's exit handler instead; both are process-wide.
int ignoreProtocolError(Display*, XErrorEvent*) {
  return 0;
}
int quietIoError(Display*) {
  return 0;
}

class X11Keyboard : public Keyboard {
 public:
  X11Keyboard() {
    XSetErrorHandler(ignoreProtocolError);
    XSetIOErrorHandler(quietIoError);
  }
  // Closed first: closing a connection the server dropped ends in the exit handler, which writes
  // to this object.
  ~X11Keyboard() override { display_.reset(); }
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  bool isTrusted() override {
    if (!display_) openDisplay();
    return display_ != nullptr;
  }

  // X has no trust prompt: the display either offers raw events or it does not.
  void requestTrust() override {}

  std::optional<MonitorId> addGlobalMonitor(EventKind kind, KeyHandler handler) override {
    if (!display_) return std::nullopt;
    // One selection on the root window serves every monitor.
    if (monitors_.empty()) selectRawKeys(true);
    MonitorId id = nextId_++;
    monitors_.emplace(id, Monitor{kind, std::move(handler)});
    return id;
  }

  void removeMonitor(MonitorId id) override {
    monitors_.erase(id);
    if (monitors_.empty() && display_) selectRawKeys(false);
  }

  void addRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) override {
    UniqueFd fd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (fd.get() < 0) return;
    itimerspec timing{};
    timing.it_interval.tv_sec = interval.count() / 1000;
    timing.it_interval.tv_nsec = (interval.count() % 1000) * 1000000;
    timing.it_value = timing.it_interval;
    if (::timerfd_settime(fd.get(), 0, &timing, nullptr) != 0) return;
    timers_.push_back(Timer{std::move(fd), std::move(tick)});
  }

  void onTerminate(std::function<void()> handler) override {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    // Blocked first: a SIGTERM from now on waits in the signalfd for the loop.
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    terminate_ = std::move(handler);
  }

  // Returns once exitProcess has been called or the X connection is lost.
  void run() override {
    while (running_) {
      dispatchQueuedEvents();
      if (!running_) break;
      std::vector<pollfd> fds;
      for (const Timer& timer : timers_) fds.push_back({timer.fd.get(), POLLIN, 0});
      if (signalFd_.get() >= 0) fds.push_back({signalFd_.get(), POLLIN, 0});
      if (display_) fds.push_back({ConnectionNumber(display_.get()), POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;  // only a programming fault gets here; spinning on it would help nobody
      }
      size_t at = 0;
      for (size_t i = 0; i < timers_.size() && running_; ++i, ++at) {
        if (fds[at].revents & POLLIN) readTimer(timers_[i]);
      }
      if (signalFd_.get() >= 0) {
        if ((fds[at].revents & POLLIN) && running_) readSignal();
        ++at;
      }
      if (at < fds.size() && fds[at].revents != 0 && display_ && peerClosed()) connectionLost();
    }
  }

  // keyherald ends with status 0 on every path: run() returns and main returns 0.
  void exitProcess(int) override { running_ = false; }

 private:
  struct Monitor {
    EventKind kind;
    KeyHandler handler;
  };
  struct Timer {
    UniqueFd fd;
    std::function<void()> tick;
  };

  void openDisplay() {
    DisplayPtr display = openQuietly();
    if (!display) return;
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error)) return;
    int major = 2, minor = 2;
    if (XIQueryVersion(display.get(), &major, &minor) != Success || major < 2) return;
    XSetIOErrorExitHandler(display.get(), onConnectionLost, this);
    xiOpcode_ = opcode;
    display_ = std::move(display);
  }

  static void onConnectionLost(Display*, void* self) {
    static_cast<X11Keyboard*>(self)->lost_ = true;
  }

  void selectRawKeys(bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
      XISetMask(bits, XI_RawKeyPress);
      XISetMask(bits, XI_RawKeyRelease);
    }
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display_.get(), DefaultRootWindow(display_.get()), &mask, 1);
    XFlush(display_.get());
  }

  // A readable socket that reads as end of file: the server is gone. Asked before Xlib reads, so
  // the loss ends the loop here instead of in Xlib's fatal-error path.
  bool peerClosed() const {
    char byte;
    ssize_t n = ::recv(ConnectionNumber(display_.get()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  void connectionLost() {
    note(CONNECTION_LOST_LINE);
    running_ = false;
  }

  void dispatchQueuedEvents() {
    while (display_ && running_ && XPending(display_.get()) > 0) {
      XEvent event;
      XNextEvent(display_.get(), &event);
      if (lost_) break;
      if (event.type != GenericEvent || event.xcookie.extension != xiOpcode_) continue;
      EventData data(display_.get(), &event.xcookie);
      const XIRawEvent* raw = data.raw();
      if (raw == nullptr || raw->detail < X_KEYCODE_OFFSET) continue;
      auto evdev = static_cast<uint16_t>(raw->detail - X_KEYCODE_OFFSET);
      if (raw->evtype == XI_RawKeyPress) {
        deliver(translator_.press(evdev));
      } else if (raw->evtype == XI_RawKeyRelease) {
        deliver(translator_.release(evdev));
      }
    }
    if (lost_ && running_) connectionLost();
  }

  void deliver(const TranslatedEvent& translated) {
    // Copied first: a handler may end the process and remove monitors meanwhile.
    std::vector<KeyHandler> handlers;
    for (const auto& [id, monitor] : monitors_) {
      if (monitor.kind == translated.kind) handlers.push_back(monitor.handler);
    }
    for (const KeyHandler& handler : handlers) {
      if (!running_) return;
      handler(translated.event);
    }
  }

  void readTimer(Timer& timer) {
    uint64_t expirations = 0;
    // Ticks missed while busy collapse into one: the handler only retries an install.
    if (::read(timer.fd.get(), &expirations, sizeof expirations) == sizeof expirations) {
      timer.tick();
    }
  }

  void readSignal() {
    signalfd_siginfo info;
    if (::read(signalFd_.get(), &info, sizeof info) == sizeof info && terminate_) terminate_();
  }

  DisplayPtr display_;
  int xiOpcode_ = 0;
  bool lost_ = false;
  RawKeyTranslator translator_;
  std::map<MonitorId, Monitor> monitors_;
  MonitorId nextId_ = 1;
  std::vector<Timer> timers_;
  UniqueFd signalFd_;
  std::function<void()> terminate_;
  bool running_ = true;
};

}  // namespace

std::unique_ptr<Keyboard> makePlatformKeyboard() {
  return std::make_unique<X11Keyboard>();
}
