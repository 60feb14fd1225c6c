#!/usr/bin/env bash
# Fails when the repository's root holds a file or folder that the README's layout section
# does not name: a stray file (a trace, a core, a scratch note) must not ride along unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."

# What the layout names: the first part of every `quoted` path in that section.
named=$(awk '/^## Layout/ { inside = 1; next } /^## / { inside = 0 } inside' README.md |
    grep -o '`[^`]*`' | tr -d '`' | cut -d/ -f1 | sort -u)

# Tracked files and new ones git does not ignore.
stray=0
while IFS= read -r entry; do
    if ! grep -qxF -- "$entry" <<<"$named"; then
        echo "root-check: '$entry' at the root is not named in the README's layout" >&2
        stray=1
    fi
done < <(git ls-files --cached --others --exclude-standard | cut -d/ -f1 | sort -u)
exit "$stray"
