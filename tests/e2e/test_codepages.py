"""Descriptions and licences in the Windows code pages of other languages,
end to end: the packager converts a UTF-8 template and licence to the code
page given with --codepage, and the installer, run where that is the ANSI
code page (Wine takes it from the Unix locale's LC_CTYPE; LC_MESSAGES stays
English, so that the buttons read OK, Yes and No), shows the product name,
the licence and the closing message as they were written."""
import os
import subprocess
import unittest

from e2e import ARCH, MKSETUP, InstallerTest

# (code page, the locale that makes it the ANSI code page, product name,
# licence, closing message)
ROWS = [
    (1251, "ru_RU.UTF-8", "Тест", "Лицензия: примите условия.", "Готово: Привет."),
    (1253, "el_GR.UTF-8", "Δοκιμή", "Άδεια χρήσης: αποδέχεστε;", "Εγκαταστάθηκε."),
    (1250, "pl_PL.UTF-8", "Próba", "Licencja: zażółć gęślą jaźń?", "Zainstalowano."),
    (874, "th_TH.UTF-8", "ทดสอบ", "สัญญาอนุญาต: ยอมรับหรือไม่", "ติดตั้งแล้ว"),
]


class CodePageTest(InstallerTest):
    locale = ""

    def wine_env(self) -> dict:
        env = dict(super().wine_env(), LC_MESSAGES="en_US.UTF-8")
        env.pop("LC_ALL", None)
        if self.locale:
            env["LC_CTYPE"] = self.locale
        return env

    def test_texts_shown_as_written(self):
        for code_page, locale, name, licence, message in ROWS:
            with self.subTest(code_page=code_page):
                self.restart()
                self.locale = locale
                product = os.path.join(self.work, "product")
                os.makedirs(product)
                with open(os.path.join(product, "licence.txt"), "w", encoding="utf-8") as f:
                    f.write(licence + "\n")
                with open(os.path.join(product, "setup.in"), "w", encoding="utf-8") as f:
                    f.write(f"T{name}\nV1\nFTest\nL{{name:licence.txt}}:{{size:licence.txt}}\n"
                            f"M{message}\n")
                exe = os.path.join(self.work, "setup.exe")
                subprocess.run([MKSETUP, "build", os.path.join(product, "setup.in"), "-o", exe,
                                "--codepage", str(code_page), "--arch", ARCH, "--quiet"],
                               check=True)
                run = self.run_installer(exe, "press OK\npress Yes\npress OK")
                self.assertCleanRun(run)
                folder, shown, closing = run.boxes
                self.assertEqual(shown["text"], licence + "\n")
                self.assertEqual((closing["caption"], closing["text"]), (name + " Setup", message))


if __name__ == "__main__":
    unittest.main()
