# The one list of system paths a clone or a backup of a whole Linux system leaves out. It fills
# "ClonerDefaultExcludes" of the application's Info.plist and both "clone_system_excludes" and
# "clone_monosystem_excludes" of ParamProc.plist, so the three never differ.
set(KV_SYSTEM_EXCLUDES
  "/proc/*" "/sys/*" "/dev/*" "/run/*" "/tmp/*" "/var/tmp/*" "/mnt/*" "/media/*" "/lost+found"
  "/swapfile" "/var/cache/apt/archives/*.deb" "/home/*/.cache/*" "/.qvsnapshots")

set(KV_CLONER_DEFAULT_EXCLUDES_XML "")
set(KV_SYSTEM_EXCLUDES_TEXT "")
foreach(entry IN LISTS KV_SYSTEM_EXCLUDES)
  string(REPLACE "&" "&amp;" xml "${entry}")
  string(REPLACE "<" "&lt;" xml "${xml}")
  string(APPEND KV_CLONER_DEFAULT_EXCLUDES_XML "\t\t<string>${xml}</string>\n")
  if(KV_SYSTEM_EXCLUDES_TEXT STREQUAL "")
    set(KV_SYSTEM_EXCLUDES_TEXT "${xml}")
  else()
    string(APPEND KV_SYSTEM_EXCLUDES_TEXT "\n${xml}")
  endif()
endforeach()
