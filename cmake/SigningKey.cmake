# Signed updates. ORVEX_SIGNING_PUBLIC_KEY names the studio's public keys, up to four,
# ";"-separated: each the file that `orvex_publish.py keygen` writes (signing_key.pub.hex), or
# its 128 hexadecimal digits (the P-256 point, X then Y). Any one of them may sign. Empty
# builds a bridge that reads unsigned updates as before.
set(ORVEX_SIGNING_PUBLIC_KEY "" CACHE STRING
    "Public keys for signed updates (up to 4, ;-separated): signing_key.pub.hex files or their 128 hex digits")

# The keys' lowercase hex digits in out, 128 per key, one key after the other, or "" for an
# empty value. value is a list (";"-separated) of up to four keys, each a key file or its
# digits, so a studio can ship bridges that take both its old and its new key. A malformed
# key stops the configuration, since a bridge with a wrong key would refuse every update.
function(orvex_signing_key_hex value out)
    set(all "")
    set(count 0)
    foreach(key IN LISTS value)
        if(key STREQUAL "")
            continue()
        endif()
        if(EXISTS "${key}")
            file(READ "${key}" text)
        else()
            set(text "${key}")
        endif()
        string(REGEX REPLACE "[ \t\r\n]" "" text "${text}")
        string(TOLOWER "${text}" text)
        string(LENGTH "${text}" length)
        if(NOT length EQUAL 128 OR NOT text MATCHES "^[0-9a-f]+$")
            message(FATAL_ERROR "ORVEX_SIGNING_PUBLIC_KEY: '${key}' is neither a file of 128 "
                                "hex digits nor those digits (orvex_publish.py keygen writes one)")
        endif()
        string(APPEND all "${text}")
        math(EXPR count "${count} + 1")
    endforeach()
    if(count GREATER 4)
        message(FATAL_ERROR "ORVEX_SIGNING_PUBLIC_KEY: ${count} keys; a bridge takes at most 4")
    endif()
    set(${out} "${all}" PARENT_SCOPE)
endfunction()

# Only updater/SigningKey.cpp sees the key, so changing it rebuilds that one file.
orvex_signing_key_hex("${ORVEX_SIGNING_PUBLIC_KEY}" ORVEX_SIGNING_KEY_HEX)
if(ORVEX_SIGNING_KEY_HEX)
    set_source_files_properties(updater/SigningKey.cpp PROPERTIES
        COMPILE_DEFINITIONS "ORVEX_SIGNING_KEY_HEX=\"${ORVEX_SIGNING_KEY_HEX}\"")
endif()

# A second bridge DLL from OrvexBridge's own sources and settings, with the keys given as
# hex digits (as orvex_signing_key_hex gives them): its own updater/SigningKey.cpp takes the place of the product library's.
function(orvex_add_keyed_bridge name key_hex)
    get_target_property(source_dir OrvexBridge SOURCE_DIR)
    orvex_add_bridge_variant(${name} ${source_dir}/updater/SigningKey.cpp)
    target_compile_definitions(${name} PRIVATE
        "$<$<COMPILE_LANGUAGE:CXX>:ORVEX_SIGNING_KEY_HEX=\"${key_hex}\">")
endfunction()
