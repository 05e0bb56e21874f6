#!/usr/bin/env bash
# Sampled mutation testing: how many small faults in the code does the suite
# notice? Each mutant changes one operator on one line of a .cpp/.h file:
#   comparison  <  <=   >  >=   ==  !=   (each way)
#   logical     &&  ||  (each way), or a ! dropped
#   boolean     true  false
#   integer     a literal plus or minus one (0 only becomes 1); not the twips
#               given to Ui::place, Ui::rect, Ui::setClientSize, Ui::px and the
#               windows' button() helpers, where one twip is a fifteenth of a
#               pixel and never shows
# Comments, strings (raw strings too), preprocessor lines, assertions and lines built only on
# other platforms (the Q_OS_WIN side of an #if) are left alone. A comparison
# or && / || needs a space on both sides, so templates, << >> and -> are not
# taken for one.
#
# The working tree (tracked and untracked files, uncommitted changes included,
# ignored ones not) is copied to a temporary folder and built there once; the
# suite must pass on it. Then, per mutant: change the line, rebuild
# incrementally, run ctest, put the line back. A mutant is killed when a test
# fails or runs out of time (the test and its first failing check are
# named, so that a test failing for another reason shows), survives when the
# suite passes, and is not counted when it does not compile. A mutant listed in
# scripts/mutate-equivalent.txt (file, before, after and the line's text, with
# the reason it cannot change what the program does) is not built: it is
# shown with its reason and left out of the score, as an equivalent mutant.
# The file there may be FILE:LINE (or FILE:LINE:COLUMN, the byte column from
# 0) where the same text and change stand elsewhere, not equivalent there.
# Survivors and the score are printed; the
# exit status is 0 whatever the score (it reports, it does not gate).
#
# The suite runs as whoever runs this, and as root it touches real folders
# (lock folders, /run/user): a mutant of the file-safety code may change them.
# The modes and owners of /, /run, /var, /dev, /home and the folders in them
# are put back after each mutant, and the run says when it had to; better
# still, run it in a container or a virtual machine.
#
# Usage: bash scripts/mutate.sh [options] [folder-or-file ...]   (default: src)
#   -n N     mutants to sample (default 40)
#   -s SEED  sampling seed (default: drawn from the date and time, so that each
#            run is a sample nobody has seen; printed first and with the
#            score); the same seed on the same tree gives the same mutants, and
#            the first k of -n N are those of -n k
#   -j JOBS  build and test jobs (default: nproc)
#   -t SECS  time limit per test, replacing the tests' own (default 120)
#   -l       only list the sampled mutants, build nothing
#   -k       keep the work folder (printed at the end)
#   -h, --help
# It takes a few minutes for the first build, then about a minute per mutant.
set -euo pipefail

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }
fail() { echo "mutate.sh: $*" >&2; exit 1; }

n=40 seed= jobs=$(nproc) limit=120 list=0 keep=0
[ "${1:-}" = --help ] && { usage; exit 0; }
while getopts ':n:s:j:t:lkh' opt; do
  case $opt in
    n) n=$OPTARG ;; s) seed=$OPTARG ;; j) jobs=$OPTARG ;; t) limit=$OPTARG ;;
    l) list=1 ;; k) keep=1 ;; h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
seed=${seed:-$(date -u +%Y%m%d%H%M%S)}
for v in "$n" "$seed" "$jobs" "$limit"; do
  [[ $v =~ ^[0-9]+$ ]] || fail "not a number: $v"
done
echo "Seed: $seed (bash scripts/mutate.sh -s $seed ... draws this sample again)"
[ $# -gt 0 ] || set -- src

root=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel) || fail "not in a git tree"
work=$(mktemp -d /tmp/mutate.XXXXXX)
# Open to others for reading: the tests that run the program as nobody skip
# themselves where nobody cannot reach it, and would count for nothing.
chmod 755 "$work"
cleanup() { if [ "$keep" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT
trap 'exit 130' INT TERM
tree=$work/tree
mkdir "$tree"
(cd "$root" && git ls-files -z -co --exclude-standard \
  | perl -0 -ne 'chomp; print "$_\0" if -e || -l' | tar --null -T - -cf -) | tar -C "$tree" -xf -

folders=()
for d in "$@"; do
  d=${d#./}; d=${d%/}   # as the list of equivalents names them: src/..., no ./
  [[ $d != /* && $d != *..* && -e $tree/$d ]] || fail "no such folder or file in the tree: $d"
  folders+=("$d")
done
set -- "${folders[@]}"
mapfile -t files < <(cd "$tree" && find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort -u)
[ ${#files[@]} -gt 0 ] || fail "no .cpp or .h files in: $*"

# Lists every possible mutant, then draws N of them (partial Fisher-Yates with
# Perl's own seeded generator, the same everywhere). One line per mutant,
# fields split by \x1f: file, line, byte column, before, after, the line
# before and after.
(cd "$tree" && perl - "$seed" "$n" "${files[@]}" > "$work/mutants") <<'PERL'
use strict; use warnings;
my ($seed, $n, @files) = @ARGV;
my %swap = ('<' => '<=', '<=' => '<', '>' => '>=', '>=' => '>', '==' => '!=',
            '!=' => '==', '&&' => '||', '||' => '&&', '!' => '', true => 'false', false => 'true');
# What an #if means on this platform: 1, 0, or undef when it cannot tell.
sub platform {
  my $e = shift;
  $e =~ s/\bdefined\s*\(?\s*(\w+)\s*\)?/
    $1 =~ m{^(?:Q_OS_UNIX|Q_OS_LINUX|__linux__|__unix__)$} ? 1 :
    $1 =~ m{^(?:Q_OS_\w+|_WIN32|_WIN64|__APPLE__|_MSC_VER)$} ? 0 : "defined($1)"/ge;
  return $e =~ m{^[\s01!&|()]+$} ? ((eval $e) ? 1 : 0) : undef;
}
my @all;
for my $file (@files) {
  open my $fh, '<', $file or die "$file: $!";
  my ($comment, $continued, $raw, @stack) = (0, 0, undef);   # stack: [parent dead, taken, dead]
  while (my $text = <$fh>) {
    chomp $text;
    # Blank out comments and literals, keeping every byte's column.
    my ($code, $rest) = ('', $text);
    while (length $rest) {
      if ($comment) {
        if ($rest =~ s{^(.*?\*/)}{}) { $code .= ' ' x length $1; $comment = 0 }
        else { $code .= ' ' x length $rest; $rest = '' }
      } elsif (defined $raw) {   # a raw string, to its )DELIMITER"
        if ($rest =~ s{^(.*?\)\Q$raw\E")}{}) { $code .= '_' x length $1; $raw = undef }
        else { $code .= '_' x length $rest; $rest = '' }
      } elsif ($rest =~ s{^((?:u8|[uUL])?R"([^()\\\s]{0,16})\()}{}) { $code .= '_' x length $1; $raw = $2 }
      elsif ($rest =~ s{^(//.*)}{}) { $code .= ' ' x length $1 }
      elsif ($rest =~ s{^/\*}{}) { $code .= '  '; $comment = 1 }
      elsif ($rest =~ s{^((?:u8|[uUL])?(["'])(?:[^\\]|\\.)*?\2)}{}) { $code .= '_' x length $1 }
      else { $rest =~ s{^(\w+|.)}{}; $code .= $1 }
    }
    my $dead = @stack && $stack[-1][2];
    if ($continued || $code =~ /^\s*#/) {
      $continued = $code =~ /\\\s*$/;
      my ($d, $e) = $code =~ /^\s*#\s*(\w+)\s*(.*?)\s*$/ or next;
      $e = "defined($e)" if $d eq 'ifdef';
      $e = "!defined($e)" if $d eq 'ifndef';
      my $v = $d =~ /^(if|ifdef|ifndef|elif)$/ ? platform($e) : undef;
      if ($d =~ /^if/) { push @stack, [$dead, $v, $dead || (defined $v && !$v)] }
      elsif (@stack && $d eq 'elif') {
        my $s = $stack[-1];
        $s->[2] = $s->[0] || $s->[1] || (defined $v && !$v);
        $s->[1] ||= $v;
      } elsif (@stack && $d eq 'else') { $stack[-1][2] = $stack[-1][0] || $stack[-1][1] }
      elsif ($d eq 'endif') { pop @stack }
      next;
    }
    # Assertions are compiled out of this build type; static ones only fail to build.
    next if $dead || $code =~ /\b(Q_ASSERT\w*|Q_STATIC_ASSERT|static_assert|assert)\s*\(/;
    my @found;
    while ($code =~ /(?<=\s)(<=|>=|==|!=|<|>|&&|\|\|)(?=\s)|!(?!=)|\b(true|false)\b/g) {
      push @found, [$-[0], $&, $swap{$&}];
    }
    my $twips = $code =~ /\b(?:Ui::)?(?:place|rect|setClientSize|px|button)\s*\(/;
    while (!$twips && $code =~ /(?<![\w.])(0[xX][0-9a-fA-F]+|[1-9][0-9]*|0)[uUlL]*(?![\w.])/g) {
      my ($at, $lit) = ($-[1], $1);
      my $hex = $lit =~ /^0x/i;
      my $v = $hex ? hex $lit : $lit;
      for my $w ($v + 1, $v ? $v - 1 : ()) {
        my $new = $hex ? substr($lit, 0, 2) . sprintf('%0*X', length($lit) - 2, $w) : $w;
        $new = lc $new if $hex && $lit =~ /[a-f]/;
        push @found, [$at, $lit, $new];
      }
    }
    for my $f (sort { $a->[0] <=> $b->[0] || $a->[2] cmp $b->[2] } @found) {
      my ($at, $old, $new) = @$f;
      my $mut = $text;
      substr($mut, $at, length $old) = $new;
      push @all, [$file, $., $at, $old, $new, map { s/^\s+//r } $text, $mut];
    }
  }
}
srand $seed;
my $take = $n < @all ? $n : @all;
for my $i (0 .. $take - 1) {
  my $j = $i + int rand(@all - $i);
  @all[$i, $j] = @all[$j, $i];
  print join("\x1f", @{$all[$i]}), "\n";
}
print STDERR scalar(@all), " possible mutants in ", scalar(@files), " files\n";
PERL

show() {  # file line before after text mutated
  printf '%s:%s  [%s] -> [%s]\n      - %s\n      + %s\n' "$@"
}
if [ "$list" = 1 ]; then
  i=0
  while IFS=$'\x1f' read -r -u 3 file line col before after text mutated; do
    i=$((i + 1)); printf '%3d  ' "$i"; show "$file" "$line" "$before" "$after" "$text" "$mutated"
  done 3< "$work/mutants"
  exit 0
fi

export QT_QPA_PLATFORM=offscreen
# Every test gets the same limit: the tests' own TIMEOUT would win over
# ctest --timeout.
suite() {
  find "$tree/build" -name CTestTestfile.cmake -exec perl -pi -e "s/\\bTIMEOUT \"\\d+\"/TIMEOUT \"$limit\"/g" {} +
  (cd "$tree/build" && ctest -j "$jobs" --timeout "$limit" --stop-on-failure > "$work/test.log" 2>&1)
}
echo "Building the copy of $root in $work ..."
if ! { cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQML_SANITIZE=OFF &&
       cmake --build "$tree/build" -j "$jobs"; } > "$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log"; fail "the unchanged tree does not build"
fi
start=$SECONDS
suite || { tail -n 30 "$work/test.log"; fail "the suite fails on the unchanged tree"; }
echo "The suite passes on the unchanged tree ($((SECONDS - start)) s)."

# Equivalent mutants: FILE<TAB>BEFORE<TAB>AFTER<TAB>LINE (trimmed)<TAB>REASON.
declare -A equivalent=()
if [ -f "$root/scripts/mutate-equivalent.txt" ]; then
  # Tabs are blanks to read, so empty fields (a dropped !) would run
  # together: split on a separator that is not.
  while IFS= read -r entry; do
    IFS=$'\x1f' read -r efile ebefore eafter etext ereason <<< "${entry//$'\t'/$'\x1f'}"
    [[ -z $efile || $efile == \#* ]] && continue
    etext=${etext#"${etext%%[![:space:]]*}"}   # matched as the mutants are listed: without leading blanks
    equivalent["$efile"$'\x1f'"$ebefore"$'\x1f'"$eafter"$'\x1f'"$etext"]=$ereason
  done < "$root/scripts/mutate-equivalent.txt"
fi

# The suite runs as whoever runs this, root too, and a mutant of the code
# that looks after folders may change real ones (one once made / 0700).
# The folders everything needs are looked at after each mutant and put back.
guarded() {
  find / /run /var /dev /home -xdev -maxdepth 1 -type d -print0 2> /dev/null \
    | xargs -0 stat -c '%a %u %g %n' 2> /dev/null | sort -k4
}
guarded > "$work/guarded"
restore_guarded() {
  local now mode uid gid path
  now=$(guarded)
  [ "$now" = "$(cat "$work/guarded")" ] && return 0
  while read -r mode uid gid path; do
    [ -d "$path" ] || continue
    chown "$uid:$gid" "$path" 2> /dev/null || true
    chmod "$mode" "$path" 2> /dev/null || true
  done < "$work/guarded"
  echo "      !! this mutant changed folders outside the copy; put back:"
  diff <(cat "$work/guarded") <(echo "$now") | sed -n 's/^> /         /p'
}

killed=0 survived=0 broken=0 same=0 i=0 total=$(wc -l < "$work/mutants")
: > "$work/survivors"
while IFS=$'\x1f' read -r -u 3 file line col before after text mutated; do
  i=$((i + 1)); start=$SECONDS
  printf '[%d/%d] ' "$i" "$total"; show "$file" "$line" "$before" "$after" "$text" "$mutated"
  key="$before"$'\x1f'"$after"$'\x1f'"$text"
  for k in "$file:$line:$col"$'\x1f'"$key" "$file:$line"$'\x1f'"$key" "$file"$'\x1f'"$key"; do
    [ -n "${equivalent[$k]+set}" ] && break
  done
  if [ -n "${equivalent[$k]+set}" ]; then
    same=$((same + 1))
    echo "      => equivalent: ${equivalent[$k]}"
    continue
  fi
  cp "$tree/$file" "$work/original"
  L=$line C=$col B=$before A=$after perl -i -pe \
    'if ($. == $ENV{L}) { substr($_, $ENV{C}, length $ENV{B}) eq $ENV{B} or die "line moved\n";
       substr($_, $ENV{C}, length $ENV{B}) = $ENV{A} }' "$tree/$file" || fail "cannot apply the mutant"
  if ! cmake --build "$tree/build" -j "$jobs" > "$work/build.log" 2>&1; then
    result="not compiled"; broken=$((broken + 1))
  elif suite; then
    result="SURVIVED"; survived=$((survived + 1))
    show "$file" "$line" "$before" "$after" "$text" "$mutated" >> "$work/survivors"
  else
    result="killed ($(grep -m1 -oE '[^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Child aborted)[^)]*\)' \
      "$work/test.log" || echo 'suite failed'))"
    killed=$((killed + 1))
    # Which check failed, to tell a real kill from a test that failed for another reason.
    failed=$(grep -m1 '^FAIL!' "$tree/build/Testing/Temporary/LastTest.log" 2> /dev/null | cut -c1-160 || true)
    [ -n "$failed" ] && result="$result; first failure: ${failed#FAIL!  : }"
  fi
  cp "$work/original" "$tree/$file"   # a fresh time stamp, so the next build recompiles it
  restore_guarded
  echo "      => $result, $((SECONDS - start)) s"
done 3< "$work/mutants"

counted=$((killed + survived))
echo
if [ "$survived" -gt 0 ]; then echo "Survivors (the suite passed with these faults):"; cat "$work/survivors"; echo; fi
if [ "$counted" -gt 0 ]; then
  per=$((killed * 1000 / counted))
  echo "Score: $killed / $counted killed ($((per / 10)).$((per % 10))%), seed $seed; $same equivalent, $broken did not compile."
else
  echo "Score: no mutant compiled ($broken did not), seed $seed."
fi
