// Single instance by lock file and socket.
//
// The lock is an flock on a file in the user's runtime folder. flock belongs
// to the open file, so it disappears with the process however that ends: a
// crashed first copy never leaves a lock behind. The file descriptor is kept
// open (and close-on-exec) for the life of the process.
//
// The holder of the lock listens on a Unix socket beside the lock file. Since
// only the lock holder ever binds it, a socket file found at start is left
// over from a copy that died, and is removed before binding. A second copy
// connects, writes "activate" (plus a line feed and the full name of the
// project it was started with, if any) and closes; the first copy reads the
// request up to its end asynchronously on its main context (a slow or silent client never stalls
// the user interface) and brings its main window to the front. Only a socket
// the user owns is used: the folder is the user's own (mode 0700) or, in the
// /tmp fallback, the names carry the user id and the files get mode 0600.

#include "SingleInstance.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixsocketaddress.h>
#include <gtk/gtk.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "Application.h"
#include "framework/Utf8.h"
#include "Window.h"

namespace platform {

namespace {

constexpr char ActivateWord[] = "activate";
// Longest request read: the word, a line feed and a file name of at most
// PATH_MAX bytes. A request that fills the buffer is too long and ignored.
constexpr gsize RequestLimit = 16 + PATH_MAX;

struct InstanceState {
    int lockFd = -1;
    bool acquired = false;
    std::string lockPath;
    std::string socketPath;
    GSocketService* service = nullptr;
    std::function<void()> observer;
    std::function<void(const std::string&)> projectObserver;
    int renamedRetries = 0;
};

InstanceState& State() {
    static InstanceState state;
    return state;
}

struct PendingRequest {
    GSocketConnection* connection;
    char buffer[RequestLimit];
};

void Activate(const std::string& project) {
    Window* main = Application::Instance().MainWindow();
    if (main && main->Toplevel()) {
        GtkWindow* window = GTK_WINDOW(main->Toplevel());
        gtk_window_deiconify(window);
        gtk_window_present(window);
    }
    if (State().observer) State().observer();
    if (!project.empty() && State().projectObserver) State().projectObserver(project);
}

void RequestRead(GObject* stream, GAsyncResult* result, gpointer data) {
    auto* request = static_cast<PendingRequest*>(data);
    gsize length = 0;
    if (g_input_stream_read_all_finish(G_INPUT_STREAM(stream), result, &length, nullptr) && length > 0 &&
        length < RequestLimit) {
        std::string text(request->buffer, length);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        size_t end = text.find('\n');
        std::string word = text.substr(0, end);
        if (!word.empty() && word.back() == '\r') word.pop_back();
        std::string project = end == std::string::npos ? std::string() : text.substr(end + 1);
        if (word == ActivateWord && project.find('\0') == std::string::npos) Activate(project);
    }
    g_io_stream_close(G_IO_STREAM(request->connection), nullptr, nullptr);
    g_object_unref(request->connection);
    delete request;
}

gboolean Incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer) {
    auto* request = new PendingRequest{G_SOCKET_CONNECTION(g_object_ref(connection)), {}};
    GInputStream* input = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    g_input_stream_read_all_async(input, request->buffer, sizeof request->buffer, G_PRIORITY_DEFAULT,
                                  nullptr, RequestRead, request);
    return TRUE;
}

// The folder for the lock and the socket, and the suffix that keeps users
// apart in a shared folder.
void ChooseFolder(std::string& folder, std::string& userSuffix) {
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    if (runtime && g_path_is_absolute(runtime) && g_file_test(runtime, G_FILE_TEST_IS_DIR)) {
        folder = runtime;
        userSuffix.clear();
    } else {
        folder = "/tmp";
        gchar* suffix = g_strdup_printf(".%u", static_cast<unsigned>(getuid()));
        userSuffix = suffix;
        g_free(suffix);
    }
}

void Listen() {
    InstanceState& state = State();
    sockaddr_un probe;
    if (state.socketPath.size() >= sizeof probe.sun_path) {
        g_warning("The instance socket path %s is too long; a second copy cannot reach this one.",
                  state.socketPath.c_str());
        return;
    }
    unlink(state.socketPath.c_str());  // left over from a copy that died
    GSocketAddress* address = g_unix_socket_address_new(state.socketPath.c_str());
    GSocketService* service = g_socket_service_new();
    GError* error = nullptr;
    if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM,
                                       G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, &error)) {
        g_warning("Cannot listen on %s: %s", state.socketPath.c_str(), error->message);
        g_error_free(error);
        g_object_unref(service);
        g_object_unref(address);
        return;
    }
    g_object_unref(address);
    chmod(state.socketPath.c_str(), 0600);
    g_signal_connect(service, "incoming", G_CALLBACK(Incoming), nullptr);
    g_socket_service_start(service);
    state.service = service;  // kept for the life of the process
}

bool SendActivate(const std::string& path, const std::string& request) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    close(fd);
    return sent;
}

}  // namespace

InstanceResult SingleInstance::Acquire(const std::wstring& instanceName) {
    InstanceState& state = State();
    if (state.acquired) return InstanceResult::First;

    std::string name = EncodeUtf8(std::wstring_view(instanceName.c_str()));
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    std::string folder, userSuffix;
    ChooseFolder(folder, userSuffix);
    state.lockPath = folder + "/" + name + "__$__instance_mutex__$__" + userSuffix;
    state.socketPath = state.lockPath + ".socket";

    int fd = open(state.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        g_warning("The instance lock %s cannot be opened (%s); running without it.",
                  state.lockPath.c_str(), g_strerror(errno));
        state.acquired = true;
        return InstanceResult::First;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int reason = errno;
        close(fd);
        if (reason == EWOULDBLOCK) return InstanceResult::Second;
        g_warning("The instance lock %s cannot be taken (%s); running without it.",
                  state.lockPath.c_str(), g_strerror(reason));
        state.acquired = true;
        return InstanceResult::First;
    }
    // A copy that ends removes the lock file after locking it: a lock taken
    // on a file that is no longer under its name locks nothing, so try again.
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(state.lockPath.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        close(fd);
        if (++state.renamedRetries < 20) return Acquire(instanceName);
        g_warning("The instance lock %s keeps going away; running without it.", state.lockPath.c_str());
        state.acquired = true;
        return InstanceResult::First;
    }
    state.lockFd = fd;
    state.acquired = true;
    Listen();
    return InstanceResult::First;
}

void SingleInstance::Release() {
    InstanceState& state = State();
    if (state.lockFd < 0) return;  // never held: the files are another copy's
    if (state.service) {
        g_socket_service_stop(state.service);
        g_socket_listener_close(G_SOCKET_LISTENER(state.service));
        g_object_unref(state.service);
        state.service = nullptr;
    }
    unlink(state.socketPath.c_str());
    // Removed while still locked, so no copy can lock this file meanwhile
    // and count itself first (see the check in Acquire).
    unlink(state.lockPath.c_str());
    close(state.lockFd);
    state.lockFd = -1;
    state.acquired = false;
}

bool SingleInstance::NotifyFirstInstance(const std::string& project) {
    const std::string& path = State().socketPath;
    if (path.empty()) return false;
    std::string request = ActivateWord;
    if (!project.empty()) request += "\n" + project;
    if (request.size() >= RequestLimit) {
        g_warning("The project name %s is too long to hand to the running copy.", project.c_str());
        request = ActivateWord;
    }
    // The first copy may hold the lock and not listen yet: try for a second.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (SendActivate(path, request)) return true;
        g_usleep(20 * 1000);
    }
    return false;
}

void SingleInstance::SetActivateObserver(std::function<void()> observer) {
    State().observer = std::move(observer);
}

void SingleInstance::SetProjectRequestObserver(std::function<void(const std::string&)> observer) {
    State().projectObserver = std::move(observer);
}

std::string SingleInstance::LockPath() { return State().lockPath; }

}  // namespace platform
