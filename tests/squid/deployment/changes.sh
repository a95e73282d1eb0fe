#!/bin/bash
# Lists, inside the deployment test's namespace, how its layers differ from the host's folders
# below them: "+ PATH" made, "- PATH" removed, "~ PATH WHAT" changed (type, mode and owner, a
# link's target, or a file's content as its digest). Folders compare by mode and owner.
set -u
dir=$1
for layer in "$dir"/layers/*/; do
  top=$(basename "$layer")
  top=${top//_//}
  while IFS= read -r -d '' path; do
    upper=$layer/upper/$path lower=$layer/lower/$path
    if [ -c "$upper" ] && [ "$(stat -c %t:%T "$upper")" = 0:0 ]; then
      echo "- $top/$path"
    elif [ ! -e "$lower" ] && [ ! -L "$lower" ]; then
      echo "+ $top/$path"
    elif [ "$(stat -c '%F %a %U:%G' "$upper")" != "$(stat -c '%F %a %U:%G' "$lower")" ]; then
      echo "~ $top/$path $(stat -c '%F %a %U:%G' "$upper")"
    elif [ -L "$upper" ]; then
      [ "$(readlink "$upper")" = "$(readlink "$lower")" ] || echo "~ $top/$path -> $(readlink "$upper")"
    elif [ -f "$upper" ] && ! cmp -s "$upper" "$lower"; then
      echo "~ $top/$path $(md5sum <"$upper" | cut -d' ' -f1)"
    fi
  done < <(cd "$layer/upper" && find . -mindepth 1 -printf '%P\0' | sort -z)
done
