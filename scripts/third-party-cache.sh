# Sourced by the scripts that build third-party code for Windows from Debian's sources into the
# cache folder (build-qt-windows.sh, build-libpq-windows.sh).

# Writes into the folder $1 apt source lists made from the machine's own package sources, with
# every binary entry turned into a source entry, and sets the array apt_source_options to the
# apt options that read them instead of the machine's lists. Whatever mirror or proxy the
# machine is set up for serves the sources too; the machine's own lists stay as they are.
machine_source_lists() {
  local folder=$1 file
  mkdir -p "$folder/sources.list.d"
  : > "$folder/sources.list"
  # One-line entries: "deb [options] uri suite components" becomes "deb-src ...".
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$file" >> "$folder/sources.list"
  done
  # Stanzas: a stanza for binary packages gets "Types: deb-src"; everything else stays.
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    sed -E 's/^Types:.*\<deb\>.*/Types: deb-src/' "$file" > "$folder/sources.list.d/$(basename "$file")"
  done
  if [ ! -s "$folder/sources.list" ] && [ -z "$(ls -A "$folder/sources.list.d")" ]; then
    echo "$(basename "$0"): the machine has no apt package sources to take source packages from" >&2
    return 1
  fi
  apt_source_options=(
    -o "Dir::Etc::SourceList=$folder/sources.list" -o "Dir::Etc::SourceParts=$folder/sources.list.d"
  )
}

# Fills the cache with the folder $2 (a path in the cache folder) from "<its name>.tar.xz" in
# the folder $1, when that archive is listed in $1/SHA256SUMS with a matching checksum and
# holds that one folder, complete with the file $3 that the build writes last. Succeeds only
# when the folder came from the archive; otherwise the caller builds from source.
seed_from_archive() {
  local archives=$1 prefix=$2 marker=$3
  local name archive listed contents
  name=$(basename "$prefix")
  archive=$archives/$name.tar.xz
  if [ ! -f "$archive" ]; then
    echo "No archive of $name in $archives: building from source"
    return 1
  fi
  listed=$(awk -v file="$name.tar.xz" '$2 == file || $2 == "*" file { print $1 }' "$archives/SHA256SUMS" 2>/dev/null)
  if [ -z "$listed" ] || [ "$(sha256sum < "$archive" | cut -d ' ' -f 1)" != "$listed" ]; then
    echo "$archive does not match its checksum in SHA256SUMS: building from source" >&2
    return 1
  fi
  contents=$(tar -tJf "$archive") || contents=""
  if [ "$(cut -d / -f 1 <<< "$contents" | sort -u)" != "$name" ] \
     || ! grep -q -x "$name/$marker" <<< "$contents"; then
    echo "$archive does not hold exactly a finished $name: building from source" >&2
    return 1
  fi
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  if ! tar -xJf "$archive" -C "$(dirname "$prefix")"; then
    rm -rf "$prefix"
    echo "$archive could not be unpacked: building from source" >&2
    return 1
  fi
  echo "$name taken from $archive"
}
