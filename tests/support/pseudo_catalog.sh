#!/usr/bin/env bash
# pseudo_catalog.sh POT MO
# The test language's catalog: every text of POT translated as itself wrapped
# in ⟦ ⟧ (each line of a text of several lines), so a text shown without
# them did not come through the catalogs.
set -euo pipefail
pot=$1 mo=$2
mkdir -p "$(dirname "$mo")"
sed -e 's/charset=CHARSET/charset=UTF-8/' -e 's/^"Language: \\n"/"Language: en@pseudo\\n"/' \
    -e 's/^"Content-Transfer-Encoding: 8bit\\n"/&\n"Plural-Forms: nplurals=2; plural=(n != 1);\\n"/' \
    -e '/^#, fuzzy$/d' "$pot" |
  msgen - | msgfilter --keep-header sed -e 's/^/⟦/' -e 's/$/⟧/' |
  msgfmt --check-format --output-file="$mo" -
