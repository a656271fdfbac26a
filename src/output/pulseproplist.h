// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include <pulse/proplist.h>

// A libpulse property list, freed with its owner.
using PulseProplist = std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)>;

// The list of these properties; a value libpulse refuses, not being UTF-8,
// is left out.
inline PulseProplist makePulseProplist(std::initializer_list<std::pair<const char*, std::string>> properties)
{
    PulseProplist list(pa_proplist_new(), &pa_proplist_free);
    for (const auto& [key, value] : properties)
        pa_proplist_sets(list.get(), key, value.c_str());
    return list;
}
