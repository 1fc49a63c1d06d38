#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "zantrix/plugins/analysis/report/format.h"
#include "zantrix/plugins/analysis/report/report.h"
#include "zantrix/plugins/analysis/report/svg_chart.h"
#include "zantrix/plugins/analysis/report/time_axis.h"

namespace zantrix::plugins::analysis::report {

namespace {

constexpr const char* kPortfolioColour = "#1f5fbf";
constexpr const char* kBenchmarkColour = "#8b939e";
constexpr const char* kDrawdownColour = "#c0392b";
constexpr const char* kVolatilityColour = "#d9822b";
constexpr double kWideWidth = 960, kWideHeight = 300;
constexpr double kHalfWidth = 580, kHalfHeight = 280;

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kMonthFullNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

constexpr const char* kStyle = R"CSS(
:root{--ink:#1d2430;--muted:#5b6472;--line:#e3e6eb;--bg:#f4f5f7;--pos:#17804a;--neg:#c0392b}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--ink);font:14px/1.45 "Inter","Segoe UI",Roboto,"Helvetica Neue",Arial,"DejaVu Sans",sans-serif;font-variant-numeric:tabular-nums}
main{max-width:1280px;margin:0 auto;padding:24px}
header h1{font-size:22px;margin:0 0 2px;font-weight:650;letter-spacing:-.01em}
header p{margin:0;color:var(--muted)}
.kpis{display:grid;grid-template-columns:repeat(5,minmax(0,1fr));gap:10px;margin:16px 0}
.kpi{background:#fff;border:1px solid var(--line);border-radius:8px;padding:9px 12px}
.kpi .label{font-size:11px;color:var(--muted);text-transform:uppercase;letter-spacing:.05em}
.kpi .value{font-size:20px;font-weight:650;margin-top:1px;white-space:nowrap}
.kpi .note{font-size:11.5px;color:var(--muted)}
.grid{display:grid;grid-template-columns:repeat(2,minmax(0,1fr));gap:14px}
.panel{background:#fff;border:1px solid var(--line);border-radius:8px;padding:14px 16px;break-inside:avoid;min-width:0}
.wide{grid-column:1/-1}
.panel h2{font-size:15px;margin:0;font-weight:650}
.panel .sub{margin:1px 0 8px;color:var(--muted);font-size:12.5px}
.chart-box{overflow-x:auto}.narrow-only{display:none}
svg.chart{width:100%;height:auto;display:block}
svg text{font-family:inherit;font-size:11px;fill:#5b6472}
svg .legend{font-size:12px;fill:#1d2430}
svg .grid{stroke:#e9ebef;stroke-width:1;fill:none}
svg .axis{stroke:#9aa1ab;stroke-width:1;fill:none}
svg .reference{stroke:#6b7380;stroke-width:1;stroke-dasharray:4 3;fill:none}
svg .line{fill:none;stroke-width:1.7;stroke-linejoin:round;stroke-linecap:round}
svg .band{fill:#c0392b;fill-opacity:.07}
svg .band-label{font-size:11px;fill:#c0392b;font-weight:700}
svg .mark{fill:#fff;stroke:#c0392b;stroke-width:1.5}
svg .mark-label{font-size:10px;fill:#c0392b;font-weight:700}
svg .marker{stroke:#1d2430;stroke-dasharray:4 3;stroke-width:1.2;fill:none}
svg .marker-label{font-size:11px;fill:#1d2430}
table{border-collapse:collapse;width:100%;font-size:12.5px}
th,td{padding:4px 8px;text-align:right;white-space:nowrap}
th{font-weight:600;color:var(--muted);border-bottom:1px solid var(--line)}
td{border-bottom:1px solid #f0f1f4}
th:first-child,td:first-child,th.text,td.text{text-align:left}
tr.total td{font-weight:650;border-top:1px solid var(--line)}
.pos{color:var(--pos)}.neg{color:var(--neg)}
.table-box{overflow-x:auto}
table.heat{font-size:12px;table-layout:fixed}
table.heat td{text-align:center;border:2px solid #fff;padding:6px 1px}
table.heat th{padding:4px 1px}
table.heat col.year{width:44px}
table.heat td.year{text-align:left;font-weight:650;background:none}
table.heat td.total{font-weight:700}
table.heat th{text-align:center;border:none}
.scroll{max-height:440px;overflow:auto}
.scroll thead th{position:sticky;top:0;background:#fff}
.summary{margin:0 0 8px;font-size:13px}
.empty{color:var(--muted);font-style:italic;padding:26px 12px;text-align:center;border:1px dashed var(--line);border-radius:6px;margin:4px 0 0}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:3px 16px;margin:0;font-size:13px}
dl.facts dt{color:var(--muted)}dl.facts dd{margin:0}
footer{color:var(--muted);font-size:12px;margin-top:14px}
@media screen and (max-width:760px){main{padding:12px}.grid{grid-template-columns:1fr}.kpis{grid-template-columns:repeat(2,minmax(0,1fr))}table.heat{min-width:480px}.wide-only{display:none}.narrow-only{display:block}svg text.tick,svg text.legend,svg text.marker-label{font-size:17px}svg text.band-label{font-size:15px}}
@media print{@page{size:A4 landscape;margin:9mm}body{background:#fff;font-size:11px}main{max-width:none;padding:0}.grid{gap:10px}.panel{padding:10px 12px}.kpis{margin:10px 0}.kpi .value{font-size:17px}table{font-size:10.5px}th,td{padding:3px 5px}.panel{border-color:#d5d9df}.scroll{max-height:none;overflow:visible}.chart-box,.table-box{overflow:visible}}
)CSS";

std::string esc(const std::string& text) {
  return escape_markup(text);
}

// A class that colours a figure by its sign.
std::string sign_class(double v) {
  return v > 0 ? "pos" : v < 0 ? "neg" : "";
}

std::string td(const std::string& text, const std::string& cls = "") {
  return (cls.empty() ? "<td>" : "<td class=\"" + cls + "\">") + esc(text) + "</td>";
}

std::string panel(const std::string& title, const std::string& sub, const std::string& body,
                  bool wide = false) {
  return std::string("<section class=\"panel") + (wide ? " wide" : "") + "\"><h2>" + esc(title) +
         "</h2>" + (sub.empty() ? "" : "<p class=\"sub\">" + esc(sub) + "</p>") + body +
         "</section>\n";
}

std::string empty_note(const std::string& why) {
  return "<p class=\"empty\">" + esc(why) + "</p>";
}

std::string chart_box(const std::string& svg) {
  return "<div class=\"chart-box\">" + svg + "</div>";
}

// The period ticks of a full-width chart and of a half-width one.
struct Ticks {
  std::vector<TimeTick> wide;
  std::vector<TimeTick> half;
};

// A full-width chart, drawn twice: at full width for a wide screen and for
// print, and at half width for a small screen, where the wide one's texts
// would shrink below reading size. The page shows one of them.
std::string wide_chart_boxes(LineChart chart, const Ticks& ticks) {
  chart.width = kWideWidth;
  chart.ticks = ticks.wide;
  std::string html = "<div class=\"chart-box wide-only\">" + render_chart(chart) + "</div>";
  chart.width = kHalfWidth;
  chart.ticks = ticks.half;
  return html + "<div class=\"chart-box narrow-only\">" + render_chart(chart) + "</div>";
}

std::string kpi(const std::string& label, const std::string& value, const std::string& note,
                const std::string& cls = "") {
  return "<div class=\"kpi\"><div class=\"label\">" + esc(label) + "</div><div class=\"value" +
         (cls.empty() ? "" : " " + cls) + "\">" + esc(value) + "</div><div class=\"note\">" +
         esc(note) + "</div></div>";
}

std::string period_text(const Performance& p) {
  const auto& in = p.input;
  return time_text(in.times.front()) + " to " + time_text(in.times.back()) + " \u00b7 " +
         std::to_string(in.values.size()) + " periods \u00b7 " + std::to_string(in.days) +
         " periods a year \u00b7 rolling window " + std::to_string(in.window) + " periods";
}

// "29 Apr → 3 May 2024", the first year left out when both share it.
std::string date_span(DateTime from, DateTime to) {
  const std::string a = short_date(from), b = short_date(to);
  const bool same_year = a.substr(a.size() - 4) == b.substr(b.size() - 4);
  return (same_year ? a.substr(0, a.size() - 5) : a) + " \u2192 " + b;
}

std::string key_figures(const Performance& p) {
  const auto& in = p.input;
  const auto& t = in.times;
  std::string html = "<section class=\"kpis\">";
  html += kpi("Total return", signed_percent(p.total_return),
              "over " + std::to_string(p.returns.size()) + " periods", sign_class(p.total_return));
  html += kpi("Annualised return", signed_percent(p.annualised_return), "compounded",
              sign_class(p.annualised_return));
  html += kpi("Sharpe ratio", fixed(p.sharpe, 2), "no risk-free rate");
  html += kpi("Volatility", percent(p.volatility), "annualised");
  if (p.worst_drawdowns.empty()) {
    html += kpi("Worst drawdown", "0.00%", "never below its peak");
  } else {
    const DrawdownPeriod& d = p.worst_drawdowns.front();
    html += kpi("Worst drawdown", signed_percent(d.depth),
                date_span(t[d.peak], t[d.trough]) + "; " +
                    (d.recovery ? "back " + short_date(t[*d.recovery]) : "not recovered"),
                "neg");
  }
  html += kpi("Worst rolling max DD", signed_percent(p.worst_rolling_max_drawdown),
              "window " + std::to_string(in.window) + " periods",
              sign_class(p.worst_rolling_max_drawdown));
  html += kpi("Information ratio", fixed(p.information_ratio, 2),
              p.has_benchmark() ? "against the benchmark" : "no benchmark");
  html +=
      kpi("M2", fixed(p.m2, 4), p.has_benchmark() ? "Sharpe \u00d7 benchmark std" : "no benchmark");
  html += kpi("Benchmark return", signed_percent(p.benchmark_total_return),
              p.has_benchmark() ? "over the same periods" : "no benchmark",
              sign_class(p.benchmark_total_return));
  html += kpi("End value", money(in.values.back()), "from " + money(in.values.front()));
  return html + "</section>\n";
}

std::vector<double> rebased(const std::vector<double>& values) {
  std::vector<double> out;
  out.reserve(values.size());
  for (const double v : values) out.push_back(v / values.front());
  return out;
}

std::string equity_panel(const Performance& p, const Ticks& ticks) {
  LineChart chart{.title = "Equity against benchmark, rebased to 1",
                  .width = kWideWidth,
                  .height = kWideHeight,
                  .periods = p.input.values.size(),
                  .ticks = {},
                  .lines = {},
                  .bands = {},
                  .marks = {},
                  .scale = Scale::kNumber,
                  .reference = 1.0};
  chart.lines.push_back({rebased(p.input.values), kPortfolioColour, "Portfolio", false});
  if (p.has_benchmark()) {
    chart.lines.push_back({rebased(p.input.benchmark), kBenchmarkColour, "Benchmark", false});
  }
  return panel(p.has_benchmark() ? "Equity against benchmark" : "Equity",
               "Value rebased to 1 at " + time_text(p.input.times.front()) +
                   "; one step per period, so closed hours take no room",
               wide_chart_boxes(std::move(chart), ticks), true);
}

std::string underwater_panel(const Performance& p, const Ticks& ticks) {
  LineChart chart{.title = "Drawdown from the running peak",
                  .width = kWideWidth,
                  .height = 250,
                  .periods = p.input.values.size(),
                  .ticks = {},
                  .lines = {{p.drawdown, kDrawdownColour, "Drawdown", true}},
                  .bands = {},
                  .marks = {},
                  .scale = Scale::kPercent,
                  .reference = std::nullopt};
  const std::size_t last = p.input.values.size() - 1;
  for (std::size_t r = 0; r < p.worst_drawdowns.size(); ++r) {
    const DrawdownPeriod& d = p.worst_drawdowns[r];
    const std::string rank = std::to_string(r + 1);
    chart.bands.push_back({d.peak, d.recovery.value_or(last), rank});
    chart.marks.push_back({d.trough, d.depth, rank});
  }
  return panel("Underwater",
               p.worst_drawdowns.empty()
                   ? "Drawdown from the running peak: none"
                   : "Drawdown from the running peak; shaded and numbered: the " +
                         std::to_string(p.worst_drawdowns.size()) +
                         " worst periods, from peak to recovery, dots at their troughs",
               wide_chart_boxes(std::move(chart), ticks), true);
}

std::string drawdown_table(const Performance& p) {
  if (p.worst_drawdowns.empty()) {
    return panel("Worst drawdown periods", "",
                 empty_note("No drawdown: the value never fell below its running peak."));
  }
  const auto& t = p.input.times;
  std::string html =
      "<div class=\"table-box\"><table><thead><tr><th>#</th><th>Depth</th><th class=\"text\">"
      "Peak</th><th class=\"text\">Trough</th><th class=\"text\">Recovery</th><th>Length</th>"
      "</tr></thead><tbody>";
  for (std::size_t r = 0; r < p.worst_drawdowns.size(); ++r) {
    const DrawdownPeriod& d = p.worst_drawdowns[r];
    const auto end = t[d.recovery.value_or(t.size() - 1)];
    const double minutes = std::chrono::duration<double, std::ratio<60>>(end - t[d.peak]).count();
    html += "<tr>" + td(std::to_string(r + 1)) + td(signed_percent(d.depth), "neg") +
            td(time_text(t[d.peak]), "text") + td(time_text(t[d.trough]), "text") +
            td(d.recovery ? time_text(t[*d.recovery]) : "not recovered", "text") +
            td(duration_text(minutes)) + "</tr>";
  }
  return panel("Worst drawdown periods",
               "Deepest first; length from the peak to the recovery (or to the last period)",
               html + "</tbody></table></div>");
}

// Green for gains, red for losses, deeper for larger moves.
std::string heat_style(double v, double scale) {
  const double strength = scale > 0 ? std::min(1.0, std::abs(v) / scale) : 0;
  char style[96];
  std::snprintf(style, sizeof style, "background:rgba(%s,%.2f)", v >= 0 ? "23,128,74" : "192,57,43",
                0.08 + 0.62 * strength);
  return style;
}

// A heatmap cell: the return in percent, one decimal, a true minus sign.
std::string heat_text(double v) {
  std::string text = signed_percent(v, 1);
  text.pop_back();
  if (text.front() == '+') text.erase(0, 1);
  return text;
}

std::string monthly_panel(const Performance& p) {
  const std::string title = "Monthly returns";
  if (p.months < 2) {
    const auto d = framework::date_of(p.input.times.front());
    return panel(title, "",
                 empty_note("Every period falls in " +
                            std::string(kMonthFullNames[static_cast<unsigned>(d.month()) - 1]) +
                            " " + std::to_string(static_cast<int>(d.year())) +
                            ": a month-by-month view needs at least two months."));
  }
  double scale = 0;
  for (const auto& year : p.monthly) {
    for (const auto& m : year.months) {
      if (m) scale = std::max(scale, std::abs(*m));
    }
  }
  std::string html =
      "<div class=\"table-box\"><table class=\"heat\"><colgroup><col class=\"year\">"
      "</colgroup><thead><tr><th></th>";
  for (const char* name : kMonthNames) html += std::string("<th>") + name + "</th>";
  html += "<th>Year</th></tr></thead><tbody>";
  for (const auto& year : p.monthly) {
    html += "<tr><td class=\"year\">" + std::to_string(year.year) + "</td>";
    for (const auto& m : year.months) {
      html += m ? "<td style=\"" + heat_style(*m, scale) + "\">" + esc(heat_text(*m)) + "</td>"
                : std::string("<td></td>");
    }
    html += "<td class=\"total\" style=\"" +
            heat_style(year.total, std::max(scale, std::abs(year.total))) + "\">" +
            esc(heat_text(year.total)) + "</td></tr>";
  }
  return panel(title,
               "In %: each month's last value against the month before's; colour by sign and size",
               html + "</tbody></table></div>");
}

std::string rolling_panels(const Performance& p, const std::vector<TimeTick>& ticks) {
  const std::string sub = "Over the trailing " + std::to_string(p.input.window) + " periods";
  if (!p.has_rolling()) {
    const std::string why = "A window of " + std::to_string(p.input.window) +
                            " periods needs that many returns; the series has " +
                            std::to_string(p.returns.size()) + ".";
    return panel("Rolling Sharpe ratio", sub, empty_note(why)) +
           panel("Rolling volatility", sub, empty_note(why));
  }
  LineChart sharpe{.title = "Rolling Sharpe ratio",
                   .width = kHalfWidth,
                   .height = kHalfHeight,
                   .periods = p.input.values.size(),
                   .ticks = ticks,
                   .lines = {{p.rolling_sharpe, kPortfolioColour, "Sharpe ratio", false}},
                   .bands = {},
                   .marks = {},
                   .scale = Scale::kNumber,
                   .reference = 0.0};
  LineChart volatility = sharpe;
  volatility.title = "Rolling volatility";
  volatility.lines = {{p.rolling_volatility, kVolatilityColour, "Volatility, annualised", false}};
  volatility.scale = Scale::kPercent;
  volatility.reference = std::nullopt;
  return panel("Rolling Sharpe ratio", sub + ", annualised", chart_box(render_chart(sharpe))) +
         panel("Rolling volatility", sub + ", annualised", chart_box(render_chart(volatility)));
}

std::string distribution_panels(const Performance& p) {
  const std::string title = "Distribution of period returns";
  std::string distribution;
  if (p.returns.size() < 2) {
    distribution = panel(title, "",
                         empty_note("A distribution needs at least two period returns; the series "
                                    "has " +
                                    std::to_string(p.returns.size()) + "."));
  } else {
    const Histogram histogram{.title = title,
                              .width = kHalfWidth,
                              .height = kHalfHeight,
                              .values = p.returns,
                              .colour = kPortfolioColour,
                              .scale = Scale::kPercent,
                              .marks = {{p.return_p5, "5th " + signed_percent(p.return_p5)},
                                        {p.return_p95, "95th " + signed_percent(p.return_p95)}}};
    distribution = panel(title, "Periods by return; dashed: the 5th and 95th percentiles",
                         chart_box(render_histogram(histogram)));
  }
  double best = p.returns.front(), worst = p.returns.front(), sum = 0;
  std::size_t up = 0;
  for (const double r : p.returns) {
    best = std::max(best, r), worst = std::min(worst, r), sum += r;
    up += r > 0;
  }
  const auto n = static_cast<double>(p.returns.size());
  const std::vector<std::pair<std::string, double>> rows{{"Mean", sum / n},
                                                         {"Best", best},
                                                         {"Worst", worst},
                                                         {"5th percentile", p.return_p5},
                                                         {"95th percentile", p.return_p95}};
  std::string html = "<table><tbody>";
  html += "<tr>" + td("Periods with a gain") +
          td(std::to_string(up) + " of " + std::to_string(p.returns.size()) + " (" +
             percent(static_cast<double>(up) / n, 0) + ")") +
          "</tr>";
  for (const auto& [label, v] : rows) {
    html += "<tr>" + td(label) + td(signed_percent(v, 3), sign_class(v)) + "</tr>";
  }
  return distribution + panel("Period returns", "", html + "</tbody></table>");
}

std::string facts_panel(const Report& report) {
  std::string html = "<dl class=\"facts\">";
  for (const auto& [label, value] : report.facts) {
    html += "<dt>" + esc(label) + "</dt><dd>" + esc(value) + "</dd>";
  }
  return panel("Run", "", html + "</dl>");
}

std::string fees_panel(const Trading& trading) {
  if (trading.fees.empty())
    return panel("Fees by instrument", "", empty_note("No fills, no fees."));
  std::string html =
      "<table><thead><tr><th>Instrument</th><th>Fills</th><th>Quantity</th><th>Fees</th></tr>"
      "</thead><tbody>";
  std::size_t fills = 0;
  double quantity = 0, fees = 0;
  for (const InstrumentFees& f : trading.fees) {
    html += "<tr>" + td(f.instrument) + td(std::to_string(f.fills)) + td(fixed(f.quantity, 0)) +
            td(money(f.fees)) + "</tr>";
    fills += f.fills, quantity += f.quantity, fees += f.fees;
  }
  html += "<tr class=\"total\">" + td("Total") + td(std::to_string(fills)) +
          td(fixed(quantity, 0)) + td(money(fees)) + "</tr>";
  return panel("Fees by instrument", "", html + "</tbody></table>");
}

// A fill's time, always to the second, so that a column of them aligns.
std::string fill_time(DateTime t) {
  return framework::format_datetime(std::chrono::floor<std::chrono::seconds>(t));
}

std::string trades_panel(const Trading& trading) {
  const std::string title = "Trades";
  if (trading.trips.empty()) {
    return panel(title, "", empty_note("No round trips: no position was opened."), true);
  }
  std::size_t closed = 0, won = 0;
  double wins = 0, losses = 0;
  for (const RoundTrip& t : trading.trips) {
    if (!t.exit_time) continue;
    ++closed;
    if (t.pnl > 0)
      ++won, wins += t.pnl;
    else
      losses += t.pnl;
  }
  const std::size_t lost = closed - won;
  std::string summary = "<p class=\"summary\">" + std::to_string(closed) + " closed";
  if (closed < trading.trips.size()) {
    summary += ", " + std::to_string(trading.trips.size() - closed) + " open";
  }
  if (closed > 0) {
    summary += " \u00b7 " + std::to_string(won) + " won (" +
               percent(static_cast<double>(won) / static_cast<double>(closed), 0) +
               ") \u00b7 average win " + esc(won ? money(wins / static_cast<double>(won)) : "n/a") +
               " \u00b7 average loss " +
               esc(lost ? money(losses / static_cast<double>(lost)) : "n/a") +
               " \u00b7 profit factor " + esc(losses < 0 ? fixed(wins / -losses, 2) : "n/a") +
               " \u00b7 net <span class=\"" + sign_class(wins + losses) + "\">" +
               esc(money(wins + losses)) + "</span> before fees";
  }
  summary += "</p>";
  std::string html =
      summary +
      "<div class=\"scroll\"><table><thead><tr><th>#</th><th class=\"text\">"
      "Instrument</th><th class=\"text\">Side</th><th>Quantity</th><th class=\"text\">"
      "Entry</th><th>Entry price</th><th class=\"text\">Exit</th><th>Exit price</th>"
      "<th>Held</th><th>P&amp;L</th></tr></thead><tbody>";
  for (std::size_t i = 0; i < trading.trips.size(); ++i) {
    const RoundTrip& t = trading.trips[i];
    html += "<tr>" + td(std::to_string(i + 1)) + td(t.instrument, "text") +
            td(t.direction == framework::Direction::LONG ? "Long" : "Short", "text") +
            td(fixed(t.quantity, 0)) + td(fill_time(t.entry_time), "text") +
            td(fixed(t.entry_price, 2)) +
            td(t.exit_time ? fill_time(*t.exit_time) : "open", "text") +
            td(t.exit_time ? fixed(t.exit_price, 2) : "") + td(duration_text(t.holding_minutes)) +
            td(t.exit_time ? money(t.pnl) : "open", sign_class(t.pnl)) + "</tr>";
  }
  return panel(
      title,
      "Round trips from the opening fill to the fill that closes or reverses the position; "
      "P&L before fees",
      html + "</tbody></table></div>", true);
}

}  // namespace

std::string render_html(const Report& report) {
  const Performance& p = report.performance;
  const Ticks ticks{time_ticks(p.input.times, 12), time_ticks(p.input.times, 6)};
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
      esc(report.title) + "</title><style>" + kStyle +
      "</style></head>\n<body><main>\n<header><h1>" + esc(report.title) + "</h1><p>" +
      esc(period_text(p)) + "</p></header>\n";
  html += key_figures(p);
  html += "<div class=\"grid\">\n";
  html += equity_panel(p, ticks);
  html += underwater_panel(p, ticks);
  html += drawdown_table(p);
  html += monthly_panel(p);
  html += rolling_panels(p, ticks.half);
  html += distribution_panels(p);
  if (!report.facts.empty()) html += facts_panel(report);
  if (report.trading) {
    html += fees_panel(*report.trading);
    html += trades_panel(*report.trading);
  }
  html +=
      "</div>\n<footer>Returns are simple period returns; ratios use the population standard "
      "deviation and no risk-free rate. Written by zantrix.</footer>\n</main></body></html>\n";
  return html;
}

}  // namespace zantrix::plugins::analysis::report
