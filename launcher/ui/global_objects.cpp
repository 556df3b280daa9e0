#include "global_objects.h"

namespace {

// The engine asks for the object of a published name: its descriptor.
void* XLUE_CALL ObjectForName(void* userData) {
  const auto* name = static_cast<const std::string*>(userData);
  if (name == nullptr) return nullptr;
  return &GlobalObjectRegistry::Get().Find(*name);
}

void BuildRecord(GlobalObjectDesc& desc) {
  if (desc.built) return;
  desc.memberNames.clear();
  desc.members.clear();
  desc.memberNames.reserve(desc.methods.size());
  for (const auto& method : desc.methods) desc.memberNames.push_back(method.first);
  for (size_t i = 0; i < desc.methods.size(); ++i)
    desc.members.push_back(XLLRTGlobalAPI{desc.memberNames[i].c_str(), desc.methods[i].second, 0});
  desc.members.push_back(XLLRTGlobalAPI{nullptr, nullptr, 0});
  desc.methods.clear();
  desc.record.getObject = ObjectForName;
  desc.record.userData = &desc.name;
  desc.record.objName = desc.name.c_str();
  desc.record.className = kGlobalObjectClass;
  desc.record.members = desc.members.data();
  desc.record.reserved = 0;
  desc.built = true;
}

}  // namespace

GlobalObjectRegistry& GlobalObjectRegistry::Get() {
  static GlobalObjectRegistry registry;
  return registry;
}

GlobalObjectDesc& GlobalObjectRegistry::Find(const std::string& name) {
  std::unique_ptr<GlobalObjectDesc>& slot = objects_[name];
  if (!slot) {
    slot = std::make_unique<GlobalObjectDesc>();
    slot->name = name;
  }
  return *slot;
}

bool GlobalObjectRegistry::Contains(const std::string& name) const {
  return objects_.count(name) != 0;
}

void GlobalObjectRegistry::AddMethod(const std::string& object, const std::string& method,
                                     lua_CFunction function) {
  Find(object).methods.emplace_back(method, function);
}

bool GlobalObjectRegistry::Publish(const std::string& name) {
  GlobalObjectDesc& desc = Find(name);
  XL_LRT_ENV_HANDLE env = XLLRT_GetEnv(nullptr);
  if (env == nullptr) return false;
  BuildRecord(desc);
  const int result = XLLRT_RegisterGlobalObj(env, desc.record);
  XLLRT_ReleaseEnv(env);
  return result == 0;
}

void GlobalObjectRegistry::Withdraw(const std::string& name) {
  auto it = objects_.find(name);
  if (it == objects_.end()) return;
  if (XL_LRT_ENV_HANDLE env = XLLRT_GetEnv(nullptr)) {
    XLLRT_RemoveGlobalObj(env, name.c_str());
    XLLRT_ReleaseEnv(env);
  }
  objects_.erase(it);
}

void GlobalObjectRegistry::WithdrawAll() {
  if (XL_LRT_ENV_HANDLE env = XLLRT_GetEnv(nullptr)) {
    for (const auto& entry : objects_) XLLRT_RemoveGlobalObj(env, entry.first.c_str());
    XLLRT_ReleaseEnv(env);
  }
  objects_.clear();
}

std::vector<std::string> GlobalObjectRegistry::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : objects_) names.push_back(entry.first);
  return names;
}
