#!/usr/bin/env bash
# Opens what people open in a real browser: the dashboard and the HTML twin of every report of
# a ./run-demo.sh installation, in headless Chromium. Each page gets a screenshot that must not
# be blank, and its rendered text (--dump-dom) must hold the totals computed from the XML
# reports and the summary files. The two XSL stylesheets are applied to the demo's XML with
# xsltproc; each result must parse and show the same totals.
# Usage: .ci/browser_check.sh [DEMO_DIR] [--docs DIR]   (DEMO_DIR defaults to ./demo; --docs
# also saves the README's screenshots there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo="$root/demo"
docs=""
while (($#)); do
    case "$1" in
        --docs) docs=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
        *) demo=$(cd "$1" && pwd); shift ;;
    esac
done
logs="$demo/app/Logs"
check="$root/.ci/page_check.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# One browser run: a fresh profile, no network of its own, nothing left running.
browse() {
    local profile
    profile=$(mktemp -d "$work/profile.XXXX")
    timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --hide-scrollbars --user-data-dir="$profile" "$@" 2>"$profile.log"
}

[ -s "$logs/summary.html" ] || { echo "no $logs/summary.html: run ./run-demo.sh first"; exit 1; }
python3 "$check" expect "$logs" >"$work/expected"
pages=(summary.html)
for xml in "$logs"/*.xml; do
    pages+=("$(basename "$xml" .xml).html")
done

for page in "${pages[@]}"; do
    file="$logs/$page"
    if [ ! -s "$file" ]; then
        fail "$page was not written"
        continue
    fi
    shot="$work/${page%.html}.png"
    browse --window-size=1200,1600 --screenshot="$shot" "file://$file" >/dev/null || true
    if [ ! -s "$shot" ]; then
        fail "$page: no screenshot"
    elif ! python3 "$check" blank "$shot"; then
        fail "$page: the screenshot is blank"
    fi
    browse --dump-dom "file://$file" >"$work/$page.dom" || true
    python3 "$check" text "$work/$page.dom" >"$work/$page.txt"
    found=0
    while IFS=$'\t' read -r name text; do
        [ "$name" = "$page" ] || continue
        found=$((found + 1))
        grep -qF -- "$text" "$work/$page.txt" || fail "$page does not show '$text'"
    done <"$work/expected"
    ((found > 0)) || fail "$page: no expected figure"
    echo "$page: rendered, $found figures found"
done

# The stylesheets on the demo's XML: a page that parses and holds the twin's totals.
for xml in "$logs"/*.xml; do
    name=$(basename "$xml" .xml)
    case "$name" in filter*) xsl=template_filter.xsl ;; *) xsl=template.xsl ;; esac
    out="$work/$name.xsl.html"
    if ! xsltproc -o "$out" "$root/reports/xsl/$xsl" "$xml"; then
        fail "$xsl on $name.xml"
        continue
    fi
    xmllint --noout "$out" || fail "$xsl on $name.xml does not parse"
    python3 "$check" text "$out" >"$out.txt"
    while IFS=$'\t' read -r page text; do
        [ "$page" = "$name.html" ] || continue
        grep -qF -- "$text" "$out.txt" || fail "$xsl on $name.xml does not show '$text'"
    done <"$work/expected"
    echo "$xsl on $name.xml: parsed, totals found"
done

if [ -n "$docs" ]; then
    # The README's pictures: the top of the dashboard and of the monthly filter report.
    browse --window-size=1100,1300 --screenshot="$docs/dashboard.png" \
        "file://$logs/summary.html" >/dev/null
    browse --window-size=1100,1000 --screenshot="$docs/report-filtermonth.png" \
        "file://$logs/filtermonth.html" >/dev/null
    echo "screenshots saved in $docs"
fi

if ((failures)); then
    echo "browser check: $failures failures"
    exit 1
fi
echo "browser check: ${#pages[@]} pages and $(ls "$logs"/*.xml | wc -l) stylesheet renderings passed"
