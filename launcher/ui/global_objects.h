// Host objects published to the engine's scripts: a registry of descriptors
// by object name, each with its methods, and the records the engine takes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xlue.h"

// The class every object of the registry is published under.
constexpr char kGlobalObjectClass[] = "BOLTGlobalObject_Class";

struct GlobalObjectDesc {
  std::string name;
  // Methods in the order added; emptied once the member table is built.
  std::vector<std::pair<std::string, lua_CFunction>> methods;
  // One entry per method, then an entry of zeros; built on first publishing.
  std::vector<XLLRTGlobalAPI> members;
  std::vector<std::string> memberNames;  // the texts the entries point to
  XLLRTObject record{};
  bool built = false;
};

class GlobalObjectRegistry {
 public:
  static GlobalObjectRegistry& Get();

  // The descriptor of `name`, created empty when absent.
  GlobalObjectDesc& Find(const std::string& name);
  bool Contains(const std::string& name) const;

  // Adds a method; not seen once the object has been published.
  void AddMethod(const std::string& object, const std::string& method, lua_CFunction function);

  // Publishes the object in the default environment; true when the engine
  // took it.
  bool Publish(const std::string& name);
  // Withdraws one object and forgets its descriptor.
  void Withdraw(const std::string& name);
  // Withdraws every object (one environment for all) and empties the registry.
  void WithdrawAll();

  std::vector<std::string> Names() const;

 private:
  std::map<std::string, std::unique_ptr<GlobalObjectDesc>> objects_;
};
