// What the daemon publishes on "/whlist": the whitelist interface with the exact signatures
// clients rely on, and the test-control interface beside it.
#include "daemon_internal.h"

namespace whlistd {

const char kIntrospectionXml[] = R"XML(<node>
  <interface name="com.vorda.lumek.whlist">
    <method name="lumek_whlist_load">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="filter" direction="in"/>
      <arg type="a(sssssii)" name="entries" direction="out"/>
    </method>
    <method name="lumek_whlist_load_sm">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="filter" direction="in"/>
      <arg type="a(sssssii)" name="entries" direction="out"/>
    </method>
    <method name="lumek_whlist_load_all">
      <arg type="a(sssssii)" name="entries" direction="out"/>
    </method>
    <method name="lumek_whlist_load_by_obj_type">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="obj_type" direction="in"/>
      <arg type="s" name="filter" direction="in"/>
      <arg type="a(sssssii)" name="entries" direction="out"/>
    </method>
    <method name="lumek_whlist_get_count_by_obj_type">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="obj_type" direction="in"/>
      <arg type="s" name="filter" direction="in"/>
      <arg type="i" name="count" direction="out"/>
    </method>
    <method name="lumek_whlist_load_by_path">
      <arg type="s" name="path" direction="in"/>
      <arg type="(sssssii)" name="entry" direction="out"/>
    </method>
    <method name="lumek_whlist_get_hash_by_path">
      <arg type="s" name="path" direction="in"/>
      <arg type="s" name="hash" direction="out"/>
    </method>
    <method name="lumek_whlist_import">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="file" direction="in"/>
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_whlist_export">
      <arg type="i" name="selector" direction="in"/>
      <arg type="s" name="file" direction="in"/>
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_whlist_protect_set_for_dpkg">
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_whlist_script_set_for_dpkg">
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_kmod_whlist_load">
      <arg type="s" name="name" direction="in"/>
      <arg type="a(si)" name="modules" direction="out"/>
    </method>
    <method name="lumek_kmod_whlist_load_sm">
      <arg type="s" name="name" direction="in"/>
      <arg type="a(si)" name="modules" direction="out"/>
    </method>
    <method name="lumek_bgset_set">
      <arg type="s" name="text" direction="in"/>
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_bgset_unset">
      <arg type="i" name="result" direction="out"/>
    </method>
    <method name="lumek_memdb_whlist_exectl_load">
      <arg type="a(sssssii)" name="entries" direction="out"/>
    </method>
  </interface>
  <interface name="com.vorda.lumek.whlist.Test">
    <method name="InjectError">
      <arg type="s" name="method" direction="in"/>
      <arg type="s" name="error_name" direction="in"/>
      <arg type="s" name="message" direction="in"/>
      <arg type="b" name="with_body" direction="in"/>
      <arg type="i" name="times" direction="in"/>
    </method>
    <method name="InjectReply">
      <arg type="s" name="method" direction="in"/>
      <arg type="v" name="body" direction="in"/>
      <arg type="i" name="times" direction="in"/>
    </method>
    <method name="InjectEmptyReply">
      <arg type="s" name="method" direction="in"/>
      <arg type="i" name="times" direction="in"/>
    </method>
    <method name="ServeEntries">
      <arg type="s" name="method" direction="in"/>
      <arg type="a(sssssii)" name="entries" direction="in"/>
    </method>
    <method name="ServeModules">
      <arg type="a(si)" name="modules" direction="in"/>
    </method>
    <method name="Skip">
      <arg type="s" name="method" direction="in"/>
      <arg type="i" name="calls" direction="in"/>
    </method>
    <method name="GetCalls">
      <arg type="a(sv)" name="calls" direction="out"/>
    </method>
    <method name="Reset"/>
  </interface>
</node>
)XML";

}  // namespace whlistd
