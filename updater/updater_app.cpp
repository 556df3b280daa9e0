#include "updater_app.h"

#include "log_file.h"
#include "operation_engine.h"
#include "path_util.h"
#include "updater_ops.h"

const char kUpdaterModule[] = "Mendor";
const char kUpdaterWindowClass[] = "QZ_Mendor";
const char kUpdaterLogFile[] = "Log\\updater.log";

namespace {
std::unique_ptr<UpdaterApp> g_app;
}

UpdaterApp& UpdaterApp::Get() {
  if (!g_app) g_app = std::make_unique<UpdaterApp>();
  return *g_app;
}

void UpdaterApp::Destroy() { g_app.reset(); }

bool UpdaterApp::FindFolders() {
  programPath = ProgramPath();
  if (programPath.empty()) return false;
  programDir = ParentFolder(programPath);
  if (programDir.empty() || !SetCurrentDirectoryA(programDir.c_str())) return false;
  downloadDir = JoinPath(programDir, "Download");
  configDir = JoinPath(programDir, "Config");
  return true;
}

void UpdaterApp::TakeArgs(const UpdaterArgs& args) {
  options = args.options;
  startParams = args.startParams;
  targetPath = args.targetPath;
  copyPath = args.copyPath;
  directory = args.directory;
  open = args.open;
  hasDigest = args.hasDigest;
  digest = args.digest;
  size = args.size;
}

bool InitUpdater(const char* commandLine) {
  UpdaterApp& app = UpdaterApp::Get();
  if (!app.FindFolders()) return false;

  const ParseOutcome parsed = ParseUpdaterArgs(commandLine ? commandLine : "");
  if (!parsed.accepted) {
    if (!parsed.logLine.empty()) WriteLog(parsed.logLine.c_str());
    return false;
  }
  app.TakeArgs(parsed.args);

  app.frame = std::make_unique<APPWnd>(kUpdaterModule);
  if (!app.frame->Create(kUpdaterWindowClass)) {
    app.frame.reset();
    return false;
  }
  RegisterUpdaterOperations();
  PostOperation(kUpdaterModule, "StartProcedure");
  return true;
}

void EndUpdater() {
  UnregisterAll(kUpdaterModule);
  UpdaterApp& app = UpdaterApp::Get();
  if (app.frame) {
    app.frame->Shutdown();
    app.frame.reset();
  }
  UpdaterApp::Destroy();
}

void ReportUpdaterInitFailed() {
  ShowError("InitApp Failed");
  // A failed start may have left the application object and its window.
  UpdaterApp::Destroy();
}
