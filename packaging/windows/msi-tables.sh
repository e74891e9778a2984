#!/usr/bin/env bash
# Adds to a package built by wixl from minute-trigger.wxs what wixl cannot
# write, with msibuild (msitools), and reads each back with msiinfo:
#   - every step, and the custom steps' types, from install-steps.tsv (its
#     header says why not wixl's): its InstallUISequence,
#     InstallExecuteSequence and CustomAction tables are replaced by the
#     table's;
#   - INSTALLDIR and TASK made secure properties: an install elevated for
#     someone who is not an administrator (/qb, /passive, Group Policy)
#     otherwise drops them silently, and installs the logon task into
#     C:\Qmx\AWG10K\ (wixl has no Secure attribute). Never REMEMBEREDDIR or
#     REMEMBEREDTASK, which the registry alone may set: secure, a value given
#     on the command line would stand wherever the registry holds none;
#   - a rebuild of the same version upgrading the installed one, instead of
#     installing beside it as a second product (each build has a new product
#     code; wixl ignores AllowSameVersionUpgrades): the version's bound made
#     inclusive (msidbUpgradeAttributesVersionMaxInclusive);
#   - the task files (component Tasks) installed only where a task is:
#     with TASK=none the folder is not locked (wixl writes no component's
#     condition).
# Usage: packaging/windows/msi-tables.sh PACKAGE.msi
set -euo pipefail
msi=$1
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
steps=$(dirname "$0")/install-steps.tsv
idt=$(mktemp -d)
trap 'rm -r "$idt"' EXIT

# The steps, as tables to import (idt: Windows Installer's text form).
printf 'Action\tType\tSource\tTarget\tExtendedType\ns72\ti2\tS72\tS255\tI4\nCustomAction\tAction\n' >"$idt/CustomAction.idt"
for sequence in InstallExecuteSequence InstallUISequence; do
  printf 'Action\tCondition\tSequence\ns72\tS255\tI2\n%s\tAction\n' $sequence >"$idt/$sequence.idt"
done
bad() { echo "msi-tables: $steps: $step: $*" >&2; exit 1; }
last=0 in_script=
while IFS=$'\t' read -r seq step in what source target runs as return when _; do
  [ "$seq" -gt "$last" ] || bad "not in sequence order"
  last=$seq
  case $step in InstallInitialize) in_script=yes ;; InstallFinalize) in_script= ;; esac
  # Types: 50 runs a program named by a property, 1 a DLL's entry, 51 sets
  # a property; + 0x400 in the script, + 0x100 rollback, + 0x200 commit,
  # + 0x800 no impersonation, + 0x40 return ignored.
  case $what in
    standard) type= ;;
    # With 0x800 as wixl writes it, meaningless for a step run at once.
    set) [ "$runs/$as/$return" = immediate/-/- ] || bad "a property is set at once, with nothing to return"; type=$((51 + 0x800)) ;;
    program) type=50 ;;
    dll) type=1 ;;
    *) bad "what is standard, set, program or dll" ;;
  esac
  if [[ $what == @(program|dll) ]]; then
    case $runs in
      immediate) [ "$as" = user ] || bad "a step run at once runs as the user" ;;
      deferred) type=$((type + 0x400)) ;;
      rollback) type=$((type + 0x400 + 0x100)) ;;
      commit) type=$((type + 0x400 + 0x200)) ;;
      *) bad "runs is immediate, deferred, rollback or commit" ;;
    esac
    [ "$runs" = immediate ] || [ "$in/$in_script" = execute/yes ] ||
      bad "a step of the install script lies in the execute sequence between InstallInitialize and InstallFinalize"
    case $as in system) type=$((type + 0x800)) ;; user) ;; *) bad "as is system or user" ;; esac
    case $return in ignore) type=$((type + 0x40)) ;; check) ;; *) bad "return is check or ignore" ;; esac
  fi
  [ -n "$type" ] || [ "$source/$target/$runs/$as/$return" = -/-/-/-/- ] || bad "a standard action has no source, target, runs, as or return"
  [ -z "$type" ] || printf '%s\t%s\t%s\t%s\t\n' "$step" "$type" "$source" "$target" >>"$idt/CustomAction.idt"
  [ "$when" != - ] || when=
  case $in in
    both | execute | ui) ;;
    *) bad "in is both, execute or ui" ;;
  esac
  [ "$in" = ui ] || printf '%s\t%s\t%s\n' "$step" "$when" "$seq" >>"$idt/InstallExecuteSequence.idt"
  [ "$in" = execute ] || printf '%s\t%s\t%s\n' "$step" "$when" "$seq" >>"$idt/InstallUISequence.idt"
done < <(grep -v '^#' "$steps" | tail -n +2)
for t in CustomAction InstallExecuteSequence InstallUISequence; do msibuild "$msi" -i "$idt/$t.idt"; done

secure=$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
secure=$(tr ';' '\n' <<<"$secure;INSTALLDIR;TASK" | grep -vxE 'REMEMBERED(DIR|TASK)|' | sort -u | paste -sd';')
msibuild "$msi" -q "UPDATE Property SET Value = '$secure' WHERE Property = 'SecureCustomProperties'"
tasks_condition='TASK<>"none"'
msibuild "$msi" -q "UPDATE Component SET Condition = '$tasks_condition' WHERE Component = 'Tasks'"
# Attributes is part of the Upgrade table's key, which no UPDATE changes: the
# table is imported again, changed.
msiinfo export "$msi" Upgrade | awk -F'\t' -v OFS='\t' '$7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 = 513 } { print }' >"$idt/Upgrade.idt"
msibuild "$msi" -i "$idt/Upgrade.idt"

for t in CustomAction InstallExecuteSequence InstallUISequence; do
  [ "$(table $t | sort)" = "$(tail -n +4 "$idt/$t.idt" | sort)" ] || { echo "msi-tables: $msi: its $t is not $steps's" >&2; exit 1; }
done
[ "$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')" = "$secure" ] &&
  [ "$(table Upgrade | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $5 }')" = 513 ] &&
  [ "$(table Component | awk -F'\t' '$1 == "Tasks" { print $5 }')" = "$tasks_condition" ] ||
  { echo "msi-tables: $msi was not changed as it should be" >&2; exit 1; }
echo "msi-tables: $msi: the steps of $steps; secure properties $secure; a rebuild of its version upgrades it; the task files only where TASK<>\"none\""
