#!/usr/bin/python3
"""Makes the request server's contract files from its introspection XML.

The interface contract of tesseraClass is written once, in tessera._tesseraClass.xml: the
methods in interface order with their dispatch identifiers and arguments, the type library's
name, version and identifiers, the class and its programmatic identifier. The D-Bus server's
adaptors are generated from that file by Qt; this script makes the rest:

  make_contract.py idl XML OUT.idl     the COM server's type library source, for widl
  make_contract.py header XML OUT.h    the C++ constants both servers take from the contract

D-Bus types map to automation types as the D-Bus server documents: i long, n short, d double,
s BSTR, ay a byte SAFEARRAY, v VARIANT. Every argument is passed by reference; the out
argument "result" is the method's [retval]. Another out argument must be named by the
method's "tessera.ByReference" annotation ("IN:OUT"), which says that the in argument IN comes
back to a D-Bus caller as OUT; the type library declares IN only.
"""
import sys
import xml.etree.ElementTree as ET

AUTOMATION_TYPES = {
    "i": "long",
    "n": "short",
    "d": "double",
    "s": "BSTR",
    "ay": "SAFEARRAY(unsigned char)",
    "v": "VARIANT",
}


class ContractError(Exception):
    pass


def annotations(element):
    return {a.get("name"): a.get("value") for a in element.findall("annotation")}


def comment_before(parent, element):
    """The text of the comment just before `element` in `parent`, folded to one paragraph."""
    previous = None
    for child in parent:
        if child is element:
            break
        previous = child
    if previous is None or previous.tag is not ET.Comment:
        return ""
    return " ".join(previous.text.split())


def read_contract(path):
    parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True))
    root = ET.parse(path, parser).getroot()
    interfaces = root.findall("interface")
    if len(interfaces) != 1:
        raise ContractError("%s: one interface expected, %d found" % (path, len(interfaces)))
    interface = interfaces[0]
    notes = annotations(interface)
    needed = ("tessera.TypeLibrary", "tessera.TypeLibrary.Version", "tessera.TypeLibrary.Uuid",
              "tessera.Interface.Flags", "tessera.Interface.Uuid", "tessera.Class",
              "tessera.Class.Uuid", "tessera.Class.ProgId")
    for name in needed:
        if not notes.get(name):
            raise ContractError("%s: the interface lacks the annotation %s" % (path, name))
    library = notes["tessera.TypeLibrary"]
    major, _, minor = notes["tessera.TypeLibrary.Version"].partition(".")
    if not (major.isdigit() and minor.isdigit()):
        raise ContractError("%s: the version is not MAJOR.MINOR" % path)
    dbus_name = interface.get("name")
    if not dbus_name.startswith(library + "."):
        raise ContractError("%s: the interface %s is not in the library %s" %
                            (path, dbus_name, library))
    contract = {
        "library": library,
        "version": (int(major), int(minor)),
        "library_uuid": notes["tessera.TypeLibrary.Uuid"],
        "interface": dbus_name,
        "interface_name": dbus_name[len(library) + 1:],
        "interface_uuid": notes["tessera.Interface.Uuid"],
        "interface_flags": notes["tessera.Interface.Flags"].split(","),
        "class": notes["tessera.Class"],
        "class_uuid": notes["tessera.Class.Uuid"],
        "progid": notes["tessera.Class.ProgId"],
        "methods": [],
    }
    dispids = set()
    for method in interface.findall("method"):
        name = method.get("name")
        notes = annotations(method)
        dispid = int(notes.get("tessera.DispId", "0"), 16)
        if dispid == 0 or dispid in dispids:
            raise ContractError("%s: %s has no dispatch identifier or a repeated one" %
                                (path, name))
        dispids.add(dispid)
        by_reference = dict(pair.split(":") for pair in
                            notes.get("tessera.ByReference", "").split(",") if pair)
        ins, result = [], None
        outs = {}
        for arg in method.findall("arg"):
            kind = arg.get("type")
            if kind not in AUTOMATION_TYPES:
                raise ContractError("%s: %s.%s has the type %s, which has no automation type" %
                                    (path, name, arg.get("name"), kind))
            if arg.get("direction", "in") == "in":
                ins.append((arg.get("name"), kind))
            elif arg.get("name") == "result":
                result = kind
            else:
                outs[arg.get("name")] = kind
        if result is None:
            raise ContractError("%s: %s has no out argument named result" % (path, name))
        types = dict(ins)
        for arg_in, arg_out in by_reference.items():
            if types.get(arg_in) is None or outs.pop(arg_out, None) != types[arg_in]:
                raise ContractError("%s: %s: %s:%s does not name an in and an out argument of "
                                    "one type" % (path, name, arg_in, arg_out))
        if outs:
            raise ContractError("%s: %s: the out arguments %s are neither the result nor named "
                                "by tessera.ByReference" % (path, name, ", ".join(outs)))
        contract["methods"].append({"name": name, "dispid": dispid, "args": ins,
                                    "result": result,
                                    "doc": comment_before(interface, method)})
    return contract


def wrap(text, indent, width=100):
    """`text` as comment lines of at most `width` characters."""
    lines, line = [], ""
    for word in text.split():
        if line and len(indent) + 3 + len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = (line + " " + word).strip()
    if line:
        lines.append(line)
    return "".join("%s// %s\n" % (indent, l) for l in lines)


def idl(contract, source):
    out = []
    out.append("// tessera.idl: the type library of the request server, embedded in tessera.exe as\n"
               "// TYPELIB 1. Made by server/make_contract.py from %s; do not edit.\n" % source)
    out.append("//\n// Every parameter is passed by reference; each method's result is its [retval]."
               " The\n// dispatch identifiers are fixed: clients may call by identifier as well as"
               " by name.\n")
    out.append('import "oaidl.idl";\nimport "ocidl.idl";\n\n')
    out.append("[\n    uuid(%s),\n    version(%d.%d),\n    helpstring(\"%s\")\n]\n" %
               (contract["library_uuid"], *contract["version"], contract["library"]))
    out.append("library %s\n{\n    importlib(\"stdole2.tlb\");\n\n" % contract["library"])
    flags = ",\n".join("        " + f for f in ["odl", "uuid(%s)" % contract["interface_uuid"]] +
                       contract["interface_flags"])
    out.append("    [\n%s\n    ]\n" % flags)
    out.append("    interface %s : IDispatch\n    {\n" % contract["interface_name"])
    for m in contract["methods"]:
        if m["doc"]:
            out.append(wrap(m["doc"], "        "))
        params = ["[in, out] %s* %s" % (AUTOMATION_TYPES[t], n) for n, t in m["args"]]
        params.append("[out, retval] %s* result" % AUTOMATION_TYPES[m["result"]])
        out.append("        [id(0x%08x)] HRESULT %s(%s);\n" % (m["dispid"], m["name"],
                                                              ", ".join(params)))
    out.append("    };\n\n")
    out.append("    // Application object with a predeclared instance: widl knows no predeclid"
               " attribute, so\n    // set_predeclid.py sets that flag in the compiled library.\n")
    out.append("    [\n        uuid(%s),\n        appobject\n    ]\n" % contract["class_uuid"])
    out.append("    coclass %s\n    {\n        [default] interface %s;\n    };\n};\n" %
               (contract["class"], contract["interface_name"]))
    return "".join(out)


def header(contract, source):
    methods = "\n".join('    {"%s", 0x%08x},' % (m["name"], m["dispid"])
                        for m in contract["methods"])
    return """// tessera_contract.h: the constants of the request server's interface contract. Made by
// server/make_contract.py from {source}; do not edit.
#ifndef TESSERA_CONTRACT_H
#define TESSERA_CONTRACT_H

namespace tessera::contract {{

// The class's programmatic identifier, which is also the D-Bus server's bus name.
inline constexpr char kProgId[] = "{progid}";
// The D-Bus interface of an instance.
inline constexpr char kInterface[] = "{interface}";
// The type library: its name and version.
inline constexpr char kTypeLibrary[] = "{library}";
inline constexpr unsigned short kVersionMajor = {major};
inline constexpr unsigned short kVersionMinor = {minor};
inline constexpr char kVersion[] = "{major}.{minor}";

// The methods in interface order, with their dispatch identifiers.
struct Method {{
    const char* name;
    long dispId;
}};
inline constexpr Method kMethods[] = {{
{methods}
}};

}}  // namespace tessera::contract

#endif  // TESSERA_CONTRACT_H
""".format(source=source, progid=contract["progid"], interface=contract["interface"],
           library=contract["library"], major=contract["version"][0],
           minor=contract["version"][1], methods=methods)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("idl", "header"):
        sys.stderr.write("usage: make_contract.py idl|header CONTRACT.xml OUTPUT\n")
        return 2
    kind, source, output = argv[1:]
    try:
        contract = read_contract(source)
    except (ContractError, ET.ParseError, OSError) as error:
        sys.stderr.write("make_contract.py: %s\n" % error)
        return 1
    name = source.replace("\\", "/").rsplit("/", 1)[-1]
    text = idl(contract, name) if kind == "idl" else header(contract, name)
    with open(output, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
