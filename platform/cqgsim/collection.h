// Collection: the simulated library's ordered, keyed collections.
//
// Items keep the order in which the simulator added them. Count, Item and
// ItemByIndex are served like every member (servant.h) and recorded under the
// names the kind of collection gives them ("Quotes.Count" and so on); the
// names are constants, so that a collection made for every quote notification
// costs no text of its own. A key or position the collection does not hold
// gives a null item, or a ComError when the client's API configuration says
// CollectionsThrowException.
//
// The simulator's side (Add, Remove, Find, items) runs on the client's thread
// and is not recorded. A member type offers key(), its key in the collection.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/error.h"
#include "platform/cqgsim/api_configuration.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/variant.h"

namespace platform::cqgsim {

// The names of a kind of collection and of its members.
struct CollectionNames {
  std::string_view name;
  std::string_view count;
  std::string_view item;
  std::string_view itemByIndex;
};

template <class Interface, class Member, class Key, const CollectionNames& Names>
class Collection : public Interface {
 public:
  // The element type as the interface hands it out.
  using Element = typename decltype(std::declval<Interface&>().ItemByIndex(0))::element_type;

  explicit Collection(Servant servant) : servant_(std::move(servant)) {}

  long Count() override {
    return servant_.Serve(Names.count, {}, [this] { return static_cast<long>(items_.size()); });
  }

  std::shared_ptr<Element> Item(const Key& key) override {
    return servant_.Serve(Names.item, {AsVariant(key)}, [this, &key]() -> std::shared_ptr<Element> {
      if (auto item = Find(key)) return item;
      return Missing("no item with this key");
    });
  }

  std::shared_ptr<Element> ItemByIndex(long index) override {
    return servant_.Serve(Names.itemByIndex, {index}, [this, index]() -> std::shared_ptr<Element> {
      if (index >= 0 && index < static_cast<long>(items_.size())) {
        return items_[static_cast<std::size_t>(index)];
      }
      return Missing("index " + std::to_string(index) + " is out of range");
    });
  }

  void Add(std::shared_ptr<Member> item) { items_.push_back(std::move(item)); }

  void Remove(const Member* item) {
    std::erase_if(items_, [item](const auto& held) { return held.get() == item; });
  }

  std::shared_ptr<Member> Find(const Key& key) const {
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [&key](const auto& item) { return item->key() == key; });
    return it == items_.end() ? nullptr : *it;
  }

  const std::vector<std::shared_ptr<Member>>& items() const { return items_; }

 protected:
  Servant& servant() { return servant_; }

  std::shared_ptr<Element> Missing(const std::string& why) const {
    const auto configuration = servant_.state()->configuration.lock();
    if (configuration && configuration->ThrowsForMissingItems()) {
      throw com::ComError(com::E_INVALIDARG, std::string(Names.name) + ": " + why);
    }
    return nullptr;
  }

 private:
  static zantrix::framework::cqg::Variant AsVariant(const Key& key) {
    if constexpr (std::is_enum_v<Key>) {
      return static_cast<long>(key);
    } else {
      return key;
    }
  }

  Servant servant_;
  std::vector<std::shared_ptr<Member>> items_;
};

}  // namespace platform::cqgsim
