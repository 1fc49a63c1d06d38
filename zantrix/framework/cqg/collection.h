// Collection: the library's ordered collections of objects.
//
// Items are counted by Count, reached by position with ItemByIndex (0 to
// Count - 1, in the collection's order) and by the collection's key with
// Item. A missing key or a position out of range gives a null pointer when the
// API configuration's CollectionsThrowException is false, and a ComError when
// it is true.
#pragma once

#include <memory>

#include "platform/com/dispatch.h"

namespace zantrix::framework::cqg {

template <class T, class Key>
class Collection : public platform::com::IDispatch {
 public:
  virtual long Count() = 0;
  virtual std::shared_ptr<T> Item(const Key& key) = 0;
  virtual std::shared_ptr<T> ItemByIndex(long index) = 0;
};

}  // namespace zantrix::framework::cqg
