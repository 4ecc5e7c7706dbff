"""The role's filters: reading an answer file's courses, deciding whether a host has anything
to do, and reading the summary line. Run by scripts/ansible-test.sh (python3 -m unittest)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "roles", "nuvel_setup",
                                "filter_plugins"))
import nuvel_setup_filters as f  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "..", "examples", "install-one-course.answers")


def listing(source, installed=()):
    return {"format": 1, "source": "/src", "installation": "/opt/Nuvel",
            "source_courses": [{"folder": k, "status": s} for k, s in source.items()],
            "installed_courses": [{"folder": k} for k in installed]}


class AnswerCourses(unittest.TestCase):
    def test_the_example_answer_file_installs_its_course_by_key(self):
        with open(EXAMPLE) as fh:
            courses = f.nuvel_answer_courses(fh.read())
        self.assertEqual(courses, {"install": ["003MUL50"], "remove": [], "remove_all": False,
                                   "determined": True})

    def test_keys_bare_quoted_listed_and_repeated_over_several_lines(self):
        text = "\n".join([
            "welcome -> 1",
            "products select 003MUL50,\"12\" -> 1",
            "prompt:MSG_Message_InstallAnother -> 1",
            "products set 2=\"a -> b, select X\" select 1:010ENG50 control -> 1",
            "products select 003MUL50 -> 1",
            "multi-language select FRA -> 1",
        ])
        courses = f.nuvel_answer_courses(text)
        self.assertEqual(courses["install"], ["003MUL50", "12", "010ENG50"])
        self.assertTrue(courses["determined"])

    def test_rows_by_number_or_preselection_leave_the_courses_open(self):
        for line in ("products select 0 -> 1", "products select 003MUL50,2 -> 1",
                     "products -> 1", "products select none -> 1",
                     "uninstall select 0 -> 2", "products select \"open -> 1"):
            with self.subTest(line=line):
                courses = f.nuvel_answer_courses("welcome -> 1\n" + line + "\n")
                self.assertFalse(courses["determined"])
        # A file that never reaches a course list says nothing about courses either.
        self.assertFalse(f.nuvel_answer_courses("welcome -> 1\nprompt:* -> 1\n")["determined"])

    def test_uninstall_lines_by_the_button_they_hit(self):
        courses = f.nuvel_answer_courses(
            "uninstall select 010ENG50 -> 2\nuninstall select 003MUL50 -> 1\n")
        self.assertEqual(courses["remove"], ["010ENG50"])  # 1 is Done: nothing removed
        self.assertFalse(courses["remove_all"])
        self.assertTrue(courses["determined"])
        self.assertTrue(f.nuvel_answer_courses("uninstall -> 5\n")["remove_all"])

    def test_comments_and_a_leading_zero_word_are_not_rows(self):
        courses = f.nuvel_answer_courses("# products select 0 -> 1\nproducts select 007 -> 1\n")
        self.assertEqual(courses["install"], ["007"])
        self.assertTrue(courses["determined"])


class Plan(unittest.TestCase):
    install = {"install": ["003MUL50"], "remove": [], "remove_all": False, "determined": True}

    def test_runs_only_for_a_status_that_installs_something(self):
        for status, run in (("new", True), ("more_recent", True), ("incomplete", True),
                            ("same", False), ("older", False)):
            with self.subTest(status=status):
                plan = f.nuvel_setup_plan(listing({"003MUL50": status, "010ENG50": "new"}),
                                          self.install)
                self.assertEqual(plan["run"], run)
                self.assertEqual(plan["install"], ["003MUL50"] if run else [])

    def test_a_course_absent_from_the_source_runs_so_the_program_names_it(self):
        plan = f.nuvel_setup_plan(listing({"010ENG50": "new"}), self.install)
        self.assertTrue(plan["run"])
        self.assertIn("003MUL50", plan["reason"])

    def test_removal_runs_only_while_the_course_is_installed(self):
        remove = {"install": [], "remove": ["010ENG50"], "remove_all": False, "determined": True}
        self.assertTrue(f.nuvel_setup_plan(listing({}, ["010ENG50"]), remove)["run"])
        self.assertFalse(f.nuvel_setup_plan(listing({}, ["003MUL50"]), remove)["run"])
        everything = dict(remove, remove=[], remove_all=True)
        self.assertEqual(f.nuvel_setup_plan(listing({}, ["003MUL50"]), everything)["remove"],
                         ["003MUL50"])
        self.assertFalse(f.nuvel_setup_plan(listing({}), everything)["run"])

    def test_undetermined_courses_always_run_and_unknown_formats_stop(self):
        open_file = dict(self.install, determined=False)
        self.assertTrue(f.nuvel_setup_plan(listing({"003MUL50": "same"}), open_file)["run"])
        with self.assertRaises(ValueError):
            f.nuvel_setup_plan(dict(listing({}), format=2), self.install)


class Summary(unittest.TestCase):
    def test_counts_log_and_exit_status_of_the_last_summary_line(self):
        stderr = "\n".join([
            "nuvel-setup: installing 003MUL50 (English Foundations, Level 3)",
            "nuvel-setup: summary: installed 9 (X), updated 9, removed 9, failed 9; log /x; exit status 9",
            "nuvel-setup: summary: installed 2 (003MUL50, 010ENG50), updated 0, removed 1 "
            "(004MUL50), failed 1 (005MUL50); log /r/opt/Nuvel/Nuvel_log.txt; exit status 1",
        ])
        s = f.nuvel_summary_counts(stderr)
        self.assertEqual((s["installed"], s["updated"], s["removed"], s["failed"], s["exit"]),
                         (2, 0, 1, 1, 1))
        self.assertEqual(s["log"], "/r/opt/Nuvel/Nuvel_log.txt")
        self.assertTrue(s["found"])
        self.assertEqual(s["messages"], [])

    def test_what_went_wrong_is_kept_apart_from_progress(self):
        s = f.nuvel_summary_counts("\n".join([
            "nuvel-setup: installing 003MUL50 (English Foundations, Level 3)",
            "nuvel-setup: 003MUL50: 40%",
            "nuvel-setup: answer line 17 (products select X -> 1) does not fit this dialog",
            "  dialog: products (resource 3103)",
            "nuvel-setup: summary: installed 0, updated 0, removed 0, failed 0; log (none); "
            "exit status 3",
        ]))
        self.assertEqual(s["messages"],
                         ["nuvel-setup: answer line 17 (products select X -> 1) does not fit "
                          "this dialog"])
        self.assertEqual(s["exit"], 3)

    def test_no_summary_line_and_no_log(self):
        self.assertFalse(f.nuvel_summary_counts("nuvel-setup: usage ...\n")["found"])
        s = f.nuvel_summary_counts(
            "nuvel-setup: summary: installed 0, updated 0, removed 2 (A, B), failed 0; "
            "log (none); exit status 0")
        self.assertEqual((s["removed"], s["log"], s["exit"]), (2, "", 0))


if __name__ == "__main__":
    unittest.main()
