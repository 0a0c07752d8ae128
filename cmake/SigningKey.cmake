# Signed updates. ORVEX_SIGNING_PUBLIC_KEY names the studio's public key: the file that
# `orvex_publish.py keygen` writes (signing_key.pub.hex), or its 128 hexadecimal digits (the
# P-256 point, X then Y). Empty builds a bridge that reads unsigned updates as before.
set(ORVEX_SIGNING_PUBLIC_KEY "" CACHE STRING
    "Public key for signed updates: a signing_key.pub.hex file or its 128 hex digits")

# The key's 128 lowercase hex digits in out, or "" for an empty value; a malformed key stops
# the configuration, since a bridge with a wrong key would refuse every update.
function(orvex_signing_key_hex value out)
    if(value STREQUAL "")
        set(${out} "" PARENT_SCOPE)
        return()
    endif()
    if(EXISTS "${value}")
        file(READ "${value}" text)
    else()
        set(text "${value}")
    endif()
    string(REGEX REPLACE "[ \t\r\n]" "" text "${text}")
    string(TOLOWER "${text}" text)
    string(LENGTH "${text}" length)
    if(NOT length EQUAL 128 OR NOT text MATCHES "^[0-9a-f]+$")
        message(FATAL_ERROR "ORVEX_SIGNING_PUBLIC_KEY: '${value}' is neither a file of 128 hex "
                            "digits nor those digits (orvex_publish.py keygen writes one)")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Only updater/SigningKey.cpp sees the key, so changing it rebuilds that one file.
orvex_signing_key_hex("${ORVEX_SIGNING_PUBLIC_KEY}" ORVEX_SIGNING_KEY_HEX)
if(ORVEX_SIGNING_KEY_HEX)
    set_source_files_properties(updater/SigningKey.cpp PROPERTIES
        COMPILE_DEFINITIONS "ORVEX_SIGNING_KEY_HEX=\"${ORVEX_SIGNING_KEY_HEX}\"")
endif()

# A second bridge DLL from OrvexBridge's own sources and settings, with the key given as
# hex digits: its own updater/SigningKey.cpp takes the place of the product library's.
function(orvex_add_keyed_bridge name key_hex)
    get_target_property(source_dir OrvexBridge SOURCE_DIR)
    orvex_add_bridge_variant(${name} ${source_dir}/updater/SigningKey.cpp)
    target_compile_definitions(${name} PRIVATE
        "$<$<COMPILE_LANGUAGE:CXX>:ORVEX_SIGNING_KEY_HEX=\"${key_hex}\">")
endfunction()
