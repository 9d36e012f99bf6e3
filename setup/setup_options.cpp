#include "setup/setup_options.h"

#include <filesystem>

std::string SetupUsage() {
  return "Usage: setup [options]\n"
         "Installs Vamu Qad from VamuQad.inf beside this program into the system, under nginx.\n"
         "Asks its questions on the terminal unless the options answer them.\n"
         "\n"
         "  --full                copy the act texts too (section FullInstall)\n"
         "  --default             do not copy the act texts (section DefaultInstall)\n"
         "  --restart             restart the web service and the FastCGI host at the end\n"
         "  --no-restart          do not restart them\n"
         "  --restart-command CMD run CMD (with /bin/sh) to restart instead; may be repeated\n"
         "  --root DIR            install below DIR instead of / (destinations, registry file,\n"
         "                        /etc/nginx, /etc/systemd); no restart unless --restart-command\n"
         "  --registry FILE       registry file (default: $VAMU_REGISTRY, else\n"
         "                        /etc/vamu/registry.reg, below the root)\n"
         "  --help                this text\n"
         "\n"
         "Exit status: 0 installation complete, 1 not complete (or stopped by a check),\n"
         "2 wrong usage, 3 cancelled.\n";
}

std::optional<SetupOptions> ParseSetupOptions(const std::vector<std::string>& args, std::string* error) {
  SetupOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasValue = false;
    if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    auto needValue = [&]() {
      if (!hasValue) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
      }
      return !value.empty();
    };
    auto answer = [&](std::optional<Answer>& slot, Answer a, const char* other) {
      if (slot && *slot != a) {
        *error = arg + " contradicts " + other;
        return false;
      }
      slot = a;
      return true;
    };
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--full" && !hasValue) {
      ok = answer(o.copyTexts, Answer::Yes, "--default");
    } else if (arg == "--default" && !hasValue) {
      ok = answer(o.copyTexts, Answer::No, "--full");
    } else if (arg == "--restart" && !hasValue) {
      ok = answer(o.restart, Answer::Yes, "--no-restart");
    } else if (arg == "--no-restart" && !hasValue) {
      ok = answer(o.restart, Answer::No, "--restart");
    } else if (arg == "--restart-command" || arg == "--root" || arg == "--registry") {
      if (!needValue()) {
        *error = arg + " needs a value";
        return std::nullopt;
      }
      if (arg == "--restart-command") o.restartCommands.push_back(value);
      else if (arg == "--root") o.root = value;
      else o.registryFile = value;
    } else {
      *error = "unknown option " + args[i];
      return std::nullopt;
    }
    if (!ok) return std::nullopt;
  }
  // The root as a prefix of absolute paths: absolute, no trailing slash
  // except for "/" itself. Relative paths would end up in the registry.
  std::error_code ec;
  o.root = std::filesystem::absolute(o.root, ec).lexically_normal().string();
  if (!ec && !o.registryFile.empty())
    o.registryFile = std::filesystem::absolute(o.registryFile, ec).lexically_normal().string();
  if (ec) {
    *error = "cannot make the paths absolute: " + ec.message();
    return std::nullopt;
  }
  while (o.root.size() > 1 && o.root.back() == '/') o.root.pop_back();
  return o;
}
