#include "setup_context.h"

namespace qv {

SetupContext::SetupContext(const SetupOptions& options, Progress* progress_, HttpClient* http_)
    : uninstall(options.uninstall),
      update(options.update),
      silent(options.silent),
      launch(options.launch),
      allowUnsigned(options.allowUnsigned),
      noShortcuts(options.noShortcuts),
      removeData(options.removeData),
      confirmed(options.confirmed),
      waitPid(options.waitPid),
      dir(options.dir),
      baseUrl(options.baseUrl),
      version(options.version),
      channel(options.channel),
      uninstallRoot(options.uninstallRoot),
      progress(progress_),
      http(http_) {}

}  // namespace qv
