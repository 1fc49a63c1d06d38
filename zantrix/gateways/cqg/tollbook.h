// Tollbook: the CQG fee model.
//
// Built from zero or more deals, it charges a commission of 1.92 per unit of
// filled quantity, added deal by deal in the order given, with the quantity
// taken as it is (a negative quantity lowers the commission). Every other
// fee component is zero; `total_fees` is the sum of the seven components.
// The fees carry the deals' currency, which the model neither names nor
// converts. A Tollbook is a value; it does not change after construction.
#pragma once

#include <concepts>
#include <initializer_list>
#include <span>

#include "zantrix/framework/base_fees.h"
#include "zantrix/framework/deal.h"

namespace zantrix::gateways::cqg {

class Tollbook : public framework::BaseFees {
 public:
  static constexpr double kCommissionPerUnit = 1.92;

  Tollbook() : Tollbook(std::span<const framework::Deal>{}) {}
  explicit Tollbook(std::span<const framework::Deal> deals);
  Tollbook(std::initializer_list<framework::Deal> deals)
      : Tollbook(std::span<const framework::Deal>(deals.begin(), deals.size())) {}
  // Deals passed as separate arguments: Tollbook(deal1, deal2).
  template <class... D>
    requires(sizeof...(D) > 0 && (std::same_as<D, framework::Deal> && ...))
  explicit Tollbook(const D&... deals) : Tollbook({deals...}) {}
};

}  // namespace zantrix::gateways::cqg
