// The six operations of module "Mendor": Quit, StartProcess, StartProcedure,
// CopyFile, Install and OpenFile.
#pragma once

#include <json/value.h>

#include <string>

// Registers the operations in their fixed order.
void RegisterUpdaterOperations();

void OpQuit(const std::string& op, Json::Value call);
void OpStartProcess(const std::string& op, Json::Value call);
void OpStartProcedure(const std::string& op, Json::Value call);
void OpCopyFile(const std::string& op, Json::Value call);
void OpInstall(const std::string& op, Json::Value call);
void OpOpenFile(const std::string& op, Json::Value call);
