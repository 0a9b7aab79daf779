#pragma once
// Records the GLib warnings logged while it lives (the default domain, from
// any thread), instead of printing them, so that a test can check that a
// dropped message was reported once, with what it says.

#include <glib.h>

#include <mutex>
#include <string>
#include <vector>

namespace korvotest {

class WarningLog {
  public:
    WarningLog();
    ~WarningLog();
    WarningLog(const WarningLog&) = delete;
    WarningLog& operator=(const WarningLog&) = delete;

    // Every warning so far, in order.
    std::vector<std::string> All();
    // The warnings that contain `part`.
    std::vector<std::string> With(const std::string& part);
    void Clear();

  private:
    static void Record(const gchar* domain, GLogLevelFlags level, const gchar* message,
                       gpointer self);

    guint handler = 0;
    std::mutex lock;
    std::vector<std::string> warnings;
};

}  // namespace korvotest
