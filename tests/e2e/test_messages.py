"""Message boxes on the real platform: every message under several thread locales, through the
message driver that links the updater's own code, recorded by the watcher."""

import unittest

import harness
from catalogue import expected_box, shown

MESSAGES = [300, 301, 306, 307, 308, 309, 310, 314]
PRODUCT = "Quorvex Sample Suite"


@harness.each_build
class MessageBoxes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.driver = cls.build.artefact("tests", "drivers", "message_driver.exe")

    def show(self, locale, last_error, ids, product=PRODUCT):
        result = self.env.run(self.driver, [str(locale), product, str(last_error)] +
                              [str(i) for i in ids])
        self.assertEqual(result.exit_code, 0, result)
        return shown(result.boxes)

    def test_every_message_in_its_language(self):
        languages = [1033, 1031, 1041, 1049, 1028, 2052, 1042, 3082]
        for language in languages:
            with self.subTest(language=language):
                expected = [expected_box(language, i, "1603" if i == 300 else PRODUCT)
                            for i in MESSAGES]
                self.assertEqual(self.show(language, 1603, MESSAGES), expected)

    def test_locales_without_a_table_of_their_own(self):
        cases = {3079: 1031, 2055: 1031, 1034: 3082, 3076: 1028, 4100: 2052, 2070: 1046,
                 1053: 1033, 1025: 1033}
        for locale, table in cases.items():
            with self.subTest(locale=locale):
                self.assertEqual(self.show(locale, 5, [301, 300]),
                                 [expected_box(table, 301, PRODUCT), expected_box(table, 300, 5)])

    def test_error_code_is_signed_and_empty_name_leaves_two_blanks(self):
        self.assertEqual(self.show(1033, 0xFFFFFFFF, [300]), [expected_box(1033, 300, -1)])
        boxes = self.show(1033, 0, [301], product="")
        self.assertIn("and  has been updated", boxes[0]["text"])

    def test_ids_without_a_row_get_the_plain_error_caption(self):
        boxes = self.show(1031, 0, [312])
        self.assertEqual(len(boxes), 1)
        self.assertEqual((boxes[0]["caption"], boxes[0]["flags"], boxes[0]["icon"]),
                         ("Error", 0x50000, "none"))

    def test_long_product_name_is_cut_to_fit(self):
        boxes = self.show(1033, 0, [308], product="N" * 1000)
        text = boxes[0]["text"]
        format_length = len(expected_box(1033, 308)["text"]) + 2
        self.assertEqual(len(text), format_length + 511)
        self.assertTrue(text.endswith(" that is installed on your computer."))


if __name__ == "__main__":
    unittest.main()
