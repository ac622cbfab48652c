#!/usr/bin/python3
# Writes openpyxl-fixture.xlsx with openpyxl (Debian python3-openpyxl 3.0.9):
# a data-set-like sheet with a formula, a comment, number formats, a merged cell,
# a defined name and a chart, plus a second sheet. The file is checked in; this
# script only documents how it was made.
from openpyxl import Workbook
from openpyxl.chart import LineChart, Reference
from openpyxl.comments import Comment
from openpyxl.styles import Alignment, Font, PatternFill

wb = Workbook()
ws = wb.active
ws.title = "Data"
ws["A1"] = "openpyxl fixture"
ws["A1"].font = Font(bold=True)
rows = [("Database:", "db.toml"), ("T, C:", 25), ("P, bar:", 0)]
for i, (k, v) in enumerate(rows, start=2):
    ws.cell(row=i, column=1, value=k)
    ws.cell(row=i, column=2, value=v)
ws["C3"] = "=B3+273.15"
ws["D3"] = 1e-7
ws["D3"].number_format = "0.00E+00"
ws["D3"].fill = PatternFill("solid", fgColor="FFFF00")
ws["E3"] = True
ws["B4"].comment = Comment("fixed", "Tester")
ws["B4"].alignment = Alignment(horizontal="right")
ws.merge_cells("F1:H1")
ws["F1"] = "merged"
ws["A6"] = "Wave"
ws["B6"] = "S1"
for r in range(7, 12):
    ws.cell(row=r, column=1, value=300 + r)
    ws.cell(row=r, column=2, value=0.1 * r)
chart = LineChart()
chart.add_data(Reference(ws, min_col=2, min_row=6, max_row=11), titles_from_data=True)
ws.add_chart(chart, "J2")
wb.create_sheet("Notes")["A1"] = "second sheet"
from openpyxl.workbook.defined_name import DefinedName
wb.defined_names.append(DefinedName("Temperature", attr_text="Data!$B$3"))
wb.save("openpyxl-fixture.xlsx")
