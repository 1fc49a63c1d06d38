#!/usr/bin/env bash
# The zantrix program on the shipped sample data: outputs, exit codes and the
# split between standard output and standard error.
set -uo pipefail
zantrix=$1
config=$2
failures=0
passes=0

check() {  # check NAME EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
  fi
}

out=$("$zantrix" --config "$config" history --code HK.00700 --start "2024-03-28 15:59:00" \
      --end "2024-03-28 16:00:00" 2>/dev/null)
check "history prints the table as CSV" \
  "time_key,open,high,low,close,volume,value,num_trds
2024-03-28 15:59:00,300.8,300.8,300.8,300.8,8700.0,2616960.0,91.0
2024-03-28 16:00:00,300.8,300.9,300.1,300.2,18700.0,5619350.0,119.0" "$out"

out=$(ZANTRIX_CONFIG=/nowhere.json "$zantrix" --config "$config" history --code HK.00700 \
      --reverse "2024-03-05 10:00:00" | head -3)
check "--config overrides the environment; reverse lists newest first" \
  "2024-03-05.csv
2024-03-04.csv
2024-03-01.csv" "$out"

out=$("$zantrix" --config "$config" history --code HK.HSImain --start "2024-03-26 16:30:00" \
      --end "2024-03-27 09:16:00" | cut -d, -f1,5,7)
check "rolls are back-adjusted" \
  "time_key,close,ticker
2024-03-26 16:30:00,17072.0,HSIH24
2024-03-27 09:16:00,17072.0,HSIJ24" "$out"

out=$("$zantrix" trading-day "2024-03-04 20:00:00" --open 18:00:00 --close 17:00:00)
check "trading-day" "2024-03-05" "$out"

err=$("$zantrix" --config "$config" history --code NOPE --start "2024-03-01 00:00:00" \
      --end "2024-03-01 23:00:00" 2>&1 >/dev/null)
status=$?
check "an error exits 1" "1" "$status"
check "the error's message goes to standard error" \
  "zantrix: Data was NOT found in $(dirname "$config")/data/kline/K_1M/NOPE!" "$err"

out=$("$zantrix" --config "$config" history --code NOPE 2>/dev/null)
check "nothing on standard output on an error" "" "$out"

"$zantrix" history --bogus 1 >/dev/null 2>&1
check "a bad option exits 1" "1" "$?"

"$zantrix" --help | grep -q trading-day
check "--help lists the commands" "0" "$?"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'date,value\n2024-01-01,100\n2024-01-02,120\n2024-01-03,90\n2024-01-04,130\n' > "$work/pv.csv"
out=$("$zantrix" metrics "$work/pv.csv" --html "$work/pv.html" | grep -E '^(total return|worst rolling)')
check "metrics of a portfolio CSV" "total return                30.00%
worst rolling max drawdown  -25.00%" "$out"
grep -q '<svg' "$work/pv.html"
check "metrics writes the page with its charts" "0" "$?"
# By hand: returns 0.2, -0.25 and 0.4444 (mean 0.131481, population standard
# deviation 0.287616), Sharpe 2 * 0.131481 / 0.287616 = 0.9143 for four
# periods a year; against the benchmark's 0.1, -0.0909 and 0.2 the excess
# returns give 0.7402, and M2 = 0.9143 * 0.120681 = 0.110337.
printf 'date,value,benchmark\n2024-01-01,100,50\n2024-01-02,120,55\n2024-01-03,90,50\n2024-01-04,130,60\n' > "$work/pvb.csv"
out=$("$zantrix" metrics "$work/pvb.csv" --days 4 --window 2 | grep -E '^(Sharpe|information|M2)')
check "metrics against a benchmark" "Sharpe ratio                0.9143
information ratio           0.7402
M2                          0.110337" "$out"
err=$("$zantrix" metrics "$work/absent.csv" 2>&1 >/dev/null)
check "a missing file is named" "zantrix: cannot read $work/absent.csv: No such file or directory" "$err"
for command in history trading-day metrics bot demo; do
  "$zantrix" "$command" --help | grep -q '^usage: zantrix'
  check "$command --help describes the command" "0" "$?"
  "$zantrix" --help | grep -q "^  $command "
  check "--help lists $command" "0" "$?"
done
err=$("$zantrix" demo --fast 50 --slow 20 2>&1 >/dev/null)
check "demo refuses averages in the wrong order" "zantrix: --fast must be below --slow" "$err"
printf 'date,value\n2024-01-01,100\n2024-01-02,abc\n' > "$work/bad.csv"
err=$("$zantrix" metrics "$work/bad.csv" 2>&1 >/dev/null)
check "a bad value names the file and line" "zantrix: $work/bad.csv, line 3: 'abc' is not a number" "$err"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
