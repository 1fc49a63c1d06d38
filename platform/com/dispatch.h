// IDispatch: the base of every automation object, and Dispatch, which views
// an automation object through the interface the caller expects.
//
// Objects are shared (std::shared_ptr); an absent object is a null pointer.
// Interfaces are C++ abstract classes deriving from IDispatch, so a member is
// reached by an ordinary virtual call rather than by name; Dispatch<T> plays
// the part of QueryInterface / win32com.client.Dispatch: it hands back the
// same object as a T, a null pointer for a null one, and fails with
// E_NOINTERFACE when the object does not implement T.
#pragma once

#include <memory>
#include <string>
#include <typeinfo>

#include "platform/com/error.h"

namespace platform::com {

class IDispatch {
 public:
  virtual ~IDispatch() = default;
  IDispatch(const IDispatch&) = delete;
  IDispatch& operator=(const IDispatch&) = delete;

 protected:
  IDispatch() = default;
};

template <class T>
std::shared_ptr<T> Dispatch(const std::shared_ptr<IDispatch>& object) {
  if (!object) return nullptr;
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) {
    throw ComError(E_NOINTERFACE, std::string("No such interface supported: ") + typeid(T).name());
  }
  return typed;
}

}  // namespace platform::com
