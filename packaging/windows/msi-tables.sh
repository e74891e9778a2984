#!/usr/bin/env bash
# Adds to a package built by wixl from minute-trigger.wxs what wixl cannot
# write, with msibuild (msitools), and reads each back with msiinfo:
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
#   - RestoreTask, RestartTask, UndoCreateTask and UnlockFolders made rollback
#     steps (in-script, rollback, no impersonation, return ignored), RunTask
#     and RestoreFolders commit steps, run only once the install can no
#     longer fail: wixl types them wrongly;
#   - the task files (component Tasks) installed only where a task is:
#     with TASK=none the folder is not locked (wixl writes no component's
#     condition).
# Usage: packaging/windows/msi-tables.sh PACKAGE.msi
set -euo pipefail
msi=$1
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }

secure=$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
secure=$(tr ';' '\n' <<<"$secure;INSTALLDIR;TASK" | grep -vxE 'REMEMBERED(DIR|TASK)|' | sort -u | paste -sd';')
# 50 (a program named by a property) or 1 (a DLL's entry), + 0x40 (return
# ignored) + 0x400 (in-script) + 0x800 (no impersonation), + 0x100 rollback
# or 0x200 commit.
rollback=$((50 + 0x40 + 0x100 + 0x400 + 0x800)) commit=$((50 + 0x40 + 0x200 + 0x400 + 0x800))
rollback_dll=$((1 + 0x40 + 0x100 + 0x400 + 0x800)) commit_dll=$((1 + 0x40 + 0x200 + 0x400 + 0x800))
msibuild "$msi" -q "UPDATE Property SET Value = '$secure' WHERE Property = 'SecureCustomProperties'"
msibuild "$msi" -q "UPDATE CustomAction SET Type = $rollback WHERE Action = 'RestoreTask' OR Action = 'RestartTask' OR Action = 'UndoCreateTask'"
msibuild "$msi" -q "UPDATE CustomAction SET Type = $rollback_dll WHERE Action = 'UnlockFolders'"
msibuild "$msi" -q "UPDATE CustomAction SET Type = $commit WHERE Action = 'RunTask'"
msibuild "$msi" -q "UPDATE CustomAction SET Type = $commit_dll WHERE Action = 'RestoreFolders'"
tasks_condition='TASK<>"none"'
msibuild "$msi" -q "UPDATE Component SET Condition = '$tasks_condition' WHERE Component = 'Tasks'"
# Attributes is part of the Upgrade table's key, which no UPDATE changes: the
# table is imported again, changed.
idt=$(mktemp -d)
msiinfo export "$msi" Upgrade | awk -F'\t' -v OFS='\t' '$7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 = 513 } { print }' >"$idt/Upgrade.idt"
msibuild "$msi" -i "$idt/Upgrade.idt"
rm -r "$idt"

[ "$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')" = "$secure" ] &&
  [ "$(table Upgrade | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $5 }')" = 513 ] &&
  [ "$(table CustomAction | awk -F'\t' '$1 ~ /^(RestoreTask|RestartTask|UndoCreateTask)$/ { print $2 }' | sort -u)" = $rollback ] &&
  [ "$(table CustomAction | awk -F'\t' '$1 == "UnlockFolders" { print $2 }')" = $rollback_dll ] &&
  [ "$(table CustomAction | awk -F'\t' '$1 == "RunTask" { print $2 }')" = $commit ] &&
  [ "$(table CustomAction | awk -F'\t' '$1 == "RestoreFolders" { print $2 }')" = $commit_dll ] &&
  [ "$(table Component | awk -F'\t' '$1 == "Tasks" { print $5 }')" = "$tasks_condition" ] ||
  { echo "msi-tables: $msi was not changed as it should be" >&2; exit 1; }
echo "msi-tables: $msi: secure properties $secure; a rebuild of its version upgrades it; RestoreTask, RestartTask, UndoCreateTask and UnlockFolders roll back, RunTask and RestoreFolders commit; the task files only where TASK<>\"none\""
