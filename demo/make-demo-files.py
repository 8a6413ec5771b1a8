#!/usr/bin/env python3
"""Makes the demo's files: small pictures (drawn with ImageMagick), a text file and a MIDlet
suite (a JAD and its JAR). The results are kept in the repository; run this again only to
change them. The ringtone in phone/user/sounds is made elsewhere."""
import os
import subprocess
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PHONE = os.path.join(HERE, "phone")
PC = os.path.join(HERE, "pc")


def path(*parts):
    p = os.path.join(*parts)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    return p


def draw(out, size, *args):
    subprocess.run(["convert", "-size", size, *args, "-strip", "-depth", "8",
                    "-define", "png:exclude-chunks=date,time", out], check=True)


def pictures():
    # A sunrise over the sea.
    draw(path(PHONE, "images", "sunrise.png"), "128x96", "gradient:#ffb347-#ff5e62",
         "-fill", "#fff6a0", "-draw", "circle 64,70 64,48",
         "-fill", "#1e5aa8", "-draw", "rectangle 0,70 127,95",
         "-fill", "#5d8fd6", "-draw", "rectangle 20,78 60,79 rectangle 70,86 110,87")
    # An idle-screen wallpaper with diagonal stripes.
    draw(path(PHONE, "images", "idle", "stripes.gif"), "96x96", "pattern:left45",
         "-fill", "#2b7a78", "-opaque", "black", "-fill", "#def2f1", "-opaque", "white",
         "-colors", "4")


def bmp_icon():
    # A small icon for the wap folder.
    out = path(PHONE, "wap", "images", "globe.bmp")
    subprocess.run(["convert", "-size", "32x32", "xc:white",
                    "-fill", "#3a7bd5", "-draw", "circle 16,16 16,2",
                    "-stroke", "white", "-fill", "none",
                    "-draw", "line 2,16 30,16", "-draw", "ellipse 16,16 6,14 0,360",
                    "-strip", "-type", "TrueColor", "BMP3:" + out], check=True)


def camera():
    big = path(PHONE, "mms", "camera", "image", "photo001.jpg")
    subprocess.run(["convert", "-size", "160x120", "gradient:#87ceeb-#f0f8ff",
                    "-fill", "#3c8d2f", "-draw", "polygon 0,120 0,80 50,55 100,85 160,60 160,120",
                    "-fill", "#8b5a2b", "-draw", "rectangle 118,70 124,100",
                    "-fill", "#2e6b25", "-draw", "circle 121,62 121,48",
                    "-strip", "-quality", "85", big], check=True)
    subprocess.run(["convert", big, "-resize", "40x30", "-strip", "-quality", "80",
                    path(PHONE, "mms", "camera", "thumb", "photo001.jpg")], check=True)
    # A picture on the PC side, to upload.
    draw(path(PC, "beach.png"), "120x80", "gradient:#4fc3f7-#e1f5fe",
         "-fill", "#ffe082", "-draw", "rectangle 0,55 119,79",
         "-fill", "#0288d1", "-draw", "rectangle 0,48 119,55",
         "-fill", "#fff59d", "-draw", "circle 95,18 95,8")


def texts():
    with open(path(PHONE, "readme.txt"), "w", newline="\r\n") as f:
        f.write("This is the demo handset of Tarvel.\n"
                "Its files live in a copy of demo/phone, so feel free to change them.\n")
    with open(path(PC, "notes.txt"), "w") as f:
        f.write("Things to try:\n"
                "- download a picture from /images\n"
                "- upload beach.png into /images\n"
                "- select HelloPhone.jad and copy it as a MIDlet into /java\n")


def midlet():
    manifest = ("Manifest-Version: 1.0\r\n"
                "MIDlet-Name: HelloPhone\r\n"
                "MIDlet-Version: 1.0.0\r\n"
                "MIDlet-Vendor: Tarvel Demo\r\n"
                "MIDlet-1: HelloPhone, /hello.png, demo.HelloPhone\r\n"
                "MicroEdition-Profile: MIDP-2.0\r\n"
                "MicroEdition-Configuration: CLDC-1.1\r\n\r\n")
    jar = path(PC, "HelloPhone.jar")
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as z:
        def add(name, data):
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
        add("META-INF/MANIFEST.MF", manifest)
        add("hello.txt", "Hello from the Tarvel demo!\n")
        icon = subprocess.run(["convert", "-size", "16x16", "xc:#ffcc00", "-fill", "#333333",
                               "-draw", "circle 5,6 5,7 circle 10,6 10,7 line 4,11 11,11",
                               "-strip", "-depth", "8",
                               "-define", "png:exclude-chunks=date,time", "PNG8:-"],
                              check=True, capture_output=True).stdout
        add("hello.png", icon)
    size = os.path.getsize(jar)
    with open(path(PC, "HelloPhone.jad"), "w", newline="\r\n") as f:
        f.write("MIDlet-1: HelloPhone, /hello.png, demo.HelloPhone\n"
                f"MIDlet-Jar-Size: {size}\n"
                "MIDlet-Jar-URL: HelloPhone.jar\n"
                "MIDlet-Name: HelloPhone\n"
                "MIDlet-Vendor: Tarvel Demo\n"
                "MIDlet-Version: 1.0.0\n"
                "MicroEdition-Configuration: CLDC-1.1\n"
                "MicroEdition-Profile: MIDP-2.0\n")


if __name__ == "__main__":
    pictures()
    bmp_icon()
    camera()
    texts()
    midlet()
